#include "ImageStructure.h"

#include "ImageFacts.h"

#include <QSet>

#include <zlib.h>

#include <cstring>
#include <limits>

namespace {

// An icon's pictures are small; a larger one claimed inside an ICO is a damaged file.
constexpr qint64 MostIconSide = 1024;
// Directories read in a TIFF file, at most.
constexpr int MostTiffDirectories = 64;

// Bounds-checked reads from a range of bytes.
class Span {
public:
    Span(const char* data, qint64 size)
        : m_data(data)
        , m_size(size) {}
    explicit Span(const QByteArray& bytes)
        : Span(bytes.constData(), bytes.size()) {}
    qint64 size() const { return m_size; }
    const char* at(qint64 offset) const { return m_data + offset; }
    bool has(qint64 at, qint64 n) const { return at >= 0 && n >= 0 && at <= m_size && n <= m_size - at; }
    quint32 u8(qint64 at) const { return quint8(m_data[at]); }
    quint32 be16(qint64 at) const { return u8(at) << 8 | u8(at + 1); }
    quint32 be32(qint64 at) const { return be16(at) << 16 | be16(at + 2); }
    quint32 le16(qint64 at) const { return u8(at) | u8(at + 1) << 8; }
    quint32 le32(qint64 at) const { return le16(at) | le16(at + 2) << 16; }
    bool is(qint64 at, const char* text, qint64 n) const {
        return has(at, n) && std::memcmp(m_data + at, text, size_t(n)) == 0;
    }
    Span sub(qint64 at, qint64 n) const { return Span(m_data + at, n); }

private:
    const char* m_data;
    qint64 m_size;
};

qint64 times(qint64 a, qint64 b) {
    if (a <= 0 || b <= 0)
        return 0;
    return a > std::numeric_limits<qint64>::max() / b ? std::numeric_limits<qint64>::max() : a * b;
}

// How much a zlib stream inflates to, counted up to just past most (what is beyond does not
// matter). A stream that is no valid zlib counts what came before its fault: the library drops it.
qint64 inflatedSize(const char* data, qint64 size, qint64 most) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return 0;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = uInt(std::min<qint64>(size, std::numeric_limits<uInt>::max()));
    qint64 total = 0;
    char out[16384];
    int status = Z_OK;
    while (status == Z_OK && total <= most) {
        stream.next_out = reinterpret_cast<Bytef*>(out);
        stream.avail_out = sizeof out;
        status = inflate(&stream, Z_NO_FLUSH);
        total += qint64(sizeof out - stream.avail_out);
        if (status == Z_OK && stream.avail_out == sizeof out)
            break; // no progress: the input ended
    }
    inflateEnd(&stream);
    return total;
}

// Where the text after a NUL-terminated keyword starting at from begins in a chunk of size n;
// -1 when there is no NUL.
qint64 afterKeyword(const Span& chunk, qint64 from) {
    for (qint64 i = from; i < chunk.size(); ++i)
        if (chunk.u8(i) == 0)
            return i + 1;
    return -1;
}

// The compressed part of a zTXt, iCCP or compressed iTXt chunk; size -1 when there is none.
Span compressedPart(const Span& chunk, const QByteArray& type) {
    const Span none(nullptr, -1);
    qint64 at = afterKeyword(chunk, 0);
    if (at < 0)
        return none;
    if (type == "iTXt") {
        if (!chunk.has(at, 2) || chunk.u8(at) == 0)
            return none;                            // uncompressed text
        at = afterKeyword(chunk, at + 2);           // language
        at = at < 0 ? -1 : afterKeyword(chunk, at); // translated keyword
    } else {
        ++at; // compression method
    }
    if (at < 0 || at > chunk.size())
        return none;
    return chunk.sub(at, chunk.size() - at);
}

// Every chunk within the bytes, IHDR first, text and profiles inflating within bounds. width and
// height: the IHDR's, when asked.
bool pngSound(const Span& b, qint64* width = nullptr, qint64* height = nullptr) {
    if (!b.is(0, "\x89PNG\r\n\x1A\n", 8))
        return false;
    qint64 at = 8;
    qint64 inflated = 0;
    int texts = 0;
    for (bool first = true;; first = false) {
        // The file may end without IEND (the picture is then shown as far as it goes).
        if (at == b.size() && !first)
            return true;
        if (!b.has(at, 12))
            return false;
        const qint64 length = b.be32(at);
        if (length > 0x7FFFFFFF || !b.has(at + 8, length + 4))
            return false;
        const QByteArray type(b.at(at + 4), 4);
        const Span chunk = b.sub(at + 8, length);
        if (first) {
            if (type != "IHDR" || length != 13)
                return false;
            if (width)
                *width = chunk.be32(0), *height = chunk.be32(4);
        }
        if (type == "tEXt" || type == "zTXt" || type == "iTXt" || type == "iCCP" || type == "sPLT") {
            if (++texts > ImageStructure::MostTextChunks)
                return false;
        }
        if (type == "zTXt" || type == "iTXt" || type == "iCCP") {
            const Span packed = compressedPart(chunk, type);
            if (packed.size() > 0) {
                const qint64 most =
                    std::min(ImageStructure::MostInflatedChunk, ImageStructure::MostInflatedTotal - inflated);
                const qint64 size = inflatedSize(packed.at(0), packed.size(), most);
                if (size > most)
                    return false;
                inflated += size;
            }
        }
        if (type == "IEND")
            return true;
        at += 12 + length;
    }
}

// The segments before the first scan, each within the bytes; progressive and components tell
// what the frame header says.
bool jpegSound(const Span& b, bool* progressive = nullptr, int* components = nullptr) {
    qint64 at = 2;
    for (;;) {
        if (!b.has(at, 2) || b.u8(at) != 0xFF)
            return false;
        const quint32 marker = b.u8(at + 1);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        at += 2;
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD9)
            return false;
        if (!b.has(at, 2))
            return false;
        const qint64 length = b.be16(at);
        if (length < 2 || !b.has(at, length))
            return false;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && length >= 8 && progressive) {
            *progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            *components = int(b.u8(at + 7));
        }
        if (marker == 0xDA)
            return true;
        at += length;
    }
}

bool webpSound(const Span& b) {
    if (!b.has(0, 12))
        return false;
    const qint64 end = std::min<qint64>(b.size(), qint64(b.le32(4)) + 8);
    for (qint64 at = 12; at < end;) {
        if (!b.has(at, 8) || at + 8 > end)
            return false;
        const qint64 size = b.le32(at + 4);
        if (at + 8 + size > end)
            return false;
        at += 8 + size + (size & 1);
    }
    return true;
}

bool bmpSound(const Span& b) {
    if (!b.has(0, 18))
        return false;
    const qint64 header = b.le32(14);
    return b.has(14, header) && qint64(b.le32(10)) <= b.size();
}

bool icoSound(const Span& b) {
    if (!b.has(0, 6))
        return false;
    const qint64 count = b.le16(4);
    if (!b.has(6, count * 16))
        return false;
    for (qint64 i = 0; i < count; ++i) {
        const qint64 entry = 6 + i * 16;
        const qint64 size = b.le32(entry + 8);
        const qint64 offset = b.le32(entry + 12);
        if (!b.has(offset, size))
            return false;
        const Span picture = b.sub(offset, size);
        qint64 width = 0, height = 0;
        if (picture.is(0, "\x89PNG", 4)) {
            if (!pngSound(picture, &width, &height))
                return false;
        } else {
            if (!picture.has(0, 16) || picture.le32(0) < 12)
                return false;
            const bool core = picture.le32(0) == 12;
            width = core ? picture.le16(4) : qint32(picture.le32(4));
            height = core ? picture.le16(6) : qint32(picture.le32(8));
            height = (height < 0 ? -height : height) / 2; // the mask's rows follow the colours'
        }
        if (width < 1 || width > MostIconSide || height < 1 || height > MostIconSide)
            return false;
    }
    return true;
}

// Each directory, the data of each of its fields and each strip or tile within the bytes.
bool tiffSound(const Span& b) {
    if (!b.has(0, 8))
        return false;
    const bool little = b.is(0, "II", 2);
    auto u16 = [&](qint64 at) {
        return little ? b.le16(at) : b.be16(at);
    };
    auto u32 = [&](qint64 at) {
        return little ? b.le32(at) : b.be32(at);
    };
    QSet<qint64> seen;
    for (qint64 ifd = u32(4); ifd != 0;) {
        if (seen.contains(ifd) || seen.size() >= MostTiffDirectories)
            return false;
        seen.insert(ifd);
        if (!b.has(ifd, 2))
            return false;
        const qint64 count = u16(ifd);
        if (!b.has(ifd + 2, count * 12 + 4))
            return false;
        // Where each strip (or tile) starts, and how long each is: an array of SHORT or LONG.
        struct Array {
            qint64 data = 0;
            qint64 unit = 0;
            qint64 values = 0;
        } offsets, lengths;
        for (qint64 i = 0; i < count; ++i) {
            const qint64 entry = ifd + 2 + i * 12;
            const quint32 tag = u16(entry);
            const quint32 type = u16(entry + 2);
            static const int typeSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
            const qint64 unit = type < std::size(typeSizes) ? typeSizes[type] : 0;
            if (unit == 0)
                continue; // a type the library skips
            const qint64 values = u32(entry + 4);
            const qint64 bytes = times(unit, values);
            const qint64 data = bytes <= 4 ? entry + 8 : qint64(u32(entry + 8));
            if (!b.has(data, bytes))
                return false;
            if ((tag == 273 || tag == 279 || tag == 324 || tag == 325) && (unit == 2 || unit == 4))
                (tag == 273 || tag == 324 ? offsets : lengths) = {data, unit, values};
        }
        auto value = [&](const Array& a, qint64 k) {
            return qint64(a.unit == 2 ? u16(a.data + k * 2) : u32(a.data + k * 4));
        };
        for (qint64 k = 0; k < std::min(offsets.values, lengths.values); ++k)
            if (!b.has(value(offsets, k), value(lengths, k)))
                return false;
        ifd = u32(ifd + 2 + count * 12);
    }
    return true;
}

} // namespace

QString ImageStructure::damagedText() {
    return QStringLiteral("画像が壊れています");
}

QString ImageStructure::problem(const QByteArray& file, const QString& typeName) {
    const Span b(file);
    bool sound = true;
    if (typeName == u"PNG")
        sound = pngSound(b);
    else if (typeName == u"JPEG")
        sound = jpegSound(b);
    else if (typeName == u"GIF")
        sound = b.has(0, 13);
    else if (typeName == u"WebP")
        sound = webpSound(b);
    else if (typeName == u"BMP")
        sound = bmpSound(b);
    else if (typeName == u"ICO")
        sound = icoSound(b);
    else if (typeName == u"TIFF")
        sound = tiffSound(b);
    else if (typeName == u"SVG")
        sound = file.size() <= MostSvgBytes;
    return sound ? QString() : damagedText();
}

qint64 ImageStructure::decodeBytes(const QByteArray& file, const QString& typeName, qint64 width,
                                   qint64 height) {
    const qint64 pixels = ImageFacts::area(width, height);
    qint64 perPixel = 4;
    if (typeName == u"JPEG") {
        bool progressive = false;
        int components = 0;
        jpegSound(Span(file), &progressive, &components);
        // Every coefficient of the whole picture is kept until the last scan: two bytes each.
        if (progressive)
            perPixel += 2 * std::max(components, 1);
    } else if (typeName == u"GIF" || typeName == u"WebP") {
        perPixel = 8; // the frame, and what it is drawn over
    } else if (typeName == u"TIFF") {
        perPixel = 12; // the pixels, and a strip of the whole picture at up to 8 bytes a pixel
    }
    return times(pixels, perPixel);
}
