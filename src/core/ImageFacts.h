#pragma once

#include <QByteArray>
#include <QString>

// What the first bytes of a file say about the image in it: its type, read from the content (never
// from a server's label or the name's extension), and its size in pixels as a browser shows it (a
// JPEG turned by its Exif orientation is shown turned). Reads JPEG, PNG, GIF, WebP, SVG, BMP, ICO,
// AVIF, HEIC/HEIF and TIFF; an HTML page or other text is no image.
class ImageFacts {
public:
    enum class Verdict {
        Image,    // an image of a known type; its size may still be unknown (width and height -1)
        NeedMore, // the bytes so far end before the answer
        NotImage, // text, an HTML page, a video or another document
        Unknown,  // binary content of a type not known here
    };

    Verdict verdict = Verdict::NeedMore;
    // "image/png", and the type's short name for people ("PNG"); empty unless an image.
    QString mimeType;
    QString typeName;
    qint64 width = -1;
    qint64 height = -1;

    // Reads the start of a file. complete: head is all there will be (the whole file, or as much as
    // will be fetched); NeedMore is then never the answer.
    static ImageFacts read(const QByteArray& head, bool complete);

    // A side longer than this is taken for nonsense: the size is then unknown.
    static constexpr qint64 MaxSide = 1'000'000;
    // width × height, 0 when either is not positive, the largest qint64 where the product would
    // not fit.
    static qint64 area(qint64 width, qint64 height);
    // Whether width and height are a size: both positive, neither beyond MaxSide.
    static bool plausible(qint64 width, qint64 height);

    bool isImage() const;
    bool hasSize() const;
    // Why the facts are not all there, in words for the user ("画像ではありません"); empty when the
    // type and size are known.
    QString problem() const;
};
