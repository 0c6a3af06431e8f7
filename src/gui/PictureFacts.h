#pragma once

#include <QString>

// What the window knows of one data file: for an image, what its first bytes (or the whole file) said
// once fetched; for media and other embeds, the type its name gives. A plain value.
struct PictureFacts {
    enum class State {
        Unknown, // nothing fetched yet
        Known,   // the type is known (the size may still be missing, see problem)
        Failed,  // the fetch failed or the content is no image; problem says why
    };

    State state = State::Unknown;
    // The type's short name for people ("JPEG", "PNG", "MP4"); empty when not known.
    QString typeName;
    // The size in pixels; -1 when not read.
    qint64 width = -1;
    qint64 height = -1;
    // The whole file's size; -1 when the server did not say.
    qint64 bytes = -1;
    // Why something is missing ("画像ではありません", "HTTP 404 ..."); empty when nothing is.
    QString problem;

    bool hasSize() const;
    // "1600×1200"; empty without a size.
    QString pixelText() const;
    // "1.2 MB"; empty without a size.
    QString byteText() const;
    // The facts known, one line each, for a tooltip; empty when none are.
    QString toolTipText() const;

    // A size in bytes as people read it ("512 B", "34 KB", "1.2 MB").
    static QString byteText(qint64 bytes);
};
