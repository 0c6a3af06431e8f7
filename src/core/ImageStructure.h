#pragma once

#include <QByteArray>
#include <QString>

// Whether a picture's bytes hold together before an image library sees them. The libraries trust
// the lengths a file claims: a PNG text chunk that claims 2³¹−1 bytes makes them allocate and zero
// that much, although the file has 48. Here every chunk, segment, box, directory and strip the
// library would read must lie within the bytes at hand, compressed metadata (PNG zTXt, iTXt, iCCP)
// must inflate within a bound, and an icon's pictures must be of an icon's size; so what decoding
// takes is bounded by the file's size and the picture's pixels, whatever the bytes claim.
//
// typeName: ImageFacts's short name of the type read from the content ("PNG", "JPEG", ...).
class ImageStructure {
public:
    // What compressed metadata may inflate to, per chunk and over the whole file.
    static constexpr qint64 MostInflatedChunk = 8LL * 1024 * 1024;
    static constexpr qint64 MostInflatedTotal = 16LL * 1024 * 1024;
    // Text and other chunks kept per file beyond this make a file no picture.
    static constexpr int MostTextChunks = 1000;
    // An SVG file larger than this is not drawn: its tree would take many times its size.
    static constexpr qint64 MostSvgBytes = 4LL * 1024 * 1024;

    // "画像が壊れています" when the bytes do not hold together as typeName; empty when they do (or
    // when typeName is not one the window decodes: such files are not handed to the library).
    static QString problem(const QByteArray& file, const QString& typeName);

    // What decoding the picture at full size takes, in bytes, at most: the pixels, and for some
    // types a second full-size buffer (a progressive JPEG's coefficients, a GIF's backing store).
    // Saturates at the largest qint64.
    static qint64 decodeBytes(const QByteArray& file, const QString& typeName, qint64 width, qint64 height);

    static QString damagedText();
};
