#include "ImageFacts.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Bounds-checked reads from the bytes at hand.
class Bytes {
public:
    explicit Bytes(const QByteArray& data)
        : m_data(data) {}
    qsizetype size() const { return m_data.size(); }
    bool has(qint64 at, qint64 n) const { return at >= 0 && n >= 0 && at + n <= m_data.size(); }
    quint32 u8(qint64 at) const { return quint8(m_data.at(at)); }
    quint32 be16(qint64 at) const { return u8(at) << 8 | u8(at + 1); }
    quint32 be32(qint64 at) const { return be16(at) << 16 | be16(at + 2); }
    quint32 le16(qint64 at) const { return u8(at) | u8(at + 1) << 8; }
    quint32 le24(qint64 at) const { return le16(at) | u8(at + 2) << 16; }
    quint32 le32(qint64 at) const { return le16(at) | le16(at + 2) << 16; }
    quint64 be64(qint64 at) const { return quint64(be32(at)) << 32 | be32(at + 4); }
    // Whether the bytes at at are text (a literal, its NUL bytes included).
    template <size_t N> bool is(qint64 at, const char (&text)[N]) const {
        return has(at, N - 1) && std::memcmp(m_data.constData() + at, text, N - 1) == 0;
    }
    QByteArray text(qint64 at, qint64 n) const { return m_data.mid(at, n); }

private:
    const QByteArray& m_data;
};

// A format reader's answer: the size, or that the bytes end too early, or that no size can be read
// (a damaged or unusual file of the type).
struct Size {
    enum Step { Done, More, None } step = None;
    qint64 width = -1;
    qint64 height = -1;
};

Size done(qint64 width, qint64 height) {
    return {Size::Done, width, height};
}
Size more() {
    return {Size::More};
}
Size none() {
    return {};
}

// The tags of a TIFF header's first directory that matter here (a TIFF file's own size, a JPEG's
// Exif orientation). tiff: where the header starts.
struct TiffTags {
    Size::Step step = Size::None;
    qint64 width = -1;
    qint64 height = -1;
    int orientation = 1;
};

// limit: where the bytes that may hold the directory end (an Exif segment's end); what lies past
// it is no part of the directory, whatever bytes follow, so that a prefix and the whole file agree.
TiffTags readTiff(const Bytes& b, qint64 tiff, qint64 limit) {
    TiffTags t;
    // Step None when the bytes asked for lie past the limit, More when they are not all here yet.
    auto reach = [&](qint64 at, qint64 n) {
        if (at < tiff || n < 0 || at + n > limit)
            return Size::None;
        return b.has(at, n) ? Size::Done : Size::More;
    };
    if (const Size::Step s = reach(tiff, 8); s != Size::Done) {
        t.step = s;
        return t;
    }
    const bool little = b.is(tiff, "II");
    if (!little && !b.is(tiff, "MM"))
        return t;
    auto u16 = [&](qint64 at) {
        return little ? b.le16(at) : b.be16(at);
    };
    auto u32 = [&](qint64 at) {
        return little ? b.le32(at) : b.be32(at);
    };
    const qint64 ifd = tiff + u32(tiff + 4);
    if (const Size::Step s = reach(ifd, 2); s != Size::Done) {
        t.step = s;
        return t;
    }
    const quint32 count = u16(ifd);
    for (quint32 i = 0; i < count; ++i) {
        const qint64 entry = ifd + 2 + qint64(i) * 12;
        if (const Size::Step s = reach(entry, 12); s != Size::Done) {
            t.step = s;
            return t;
        }
        const quint32 tag = u16(entry);
        const quint32 type = u16(entry + 2);
        // A SHORT sits in the first two bytes of the value field, a LONG fills it.
        const qint64 value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : -1;
        if (tag == 0x0100)
            t.width = value;
        else if (tag == 0x0101)
            t.height = value;
        else if (tag == 0x0112 && value >= 1 && value <= 8)
            t.orientation = int(value);
    }
    t.step = Size::Done;
    return t;
}

Size turned(Size s, int orientation) {
    // Orientations 5 to 8 turn the picture by a quarter: its width is then its height.
    if (orientation >= 5)
        std::swap(s.width, s.height);
    return s;
}

Size jpeg(const Bytes& b) {
    qint64 at = 2;
    int orientation = 1;
    for (;;) {
        if (!b.has(at, 2))
            return more();
        if (b.u8(at) != 0xFF)
            return none();
        const quint32 marker = b.u8(at + 1);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        at += 2;
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length
        if (marker == 0xD9 || marker == 0xDA)
            return none(); // the image data begins, or ends, before any frame header
        if (!b.has(at, 2))
            return more();
        const qint64 length = b.be16(at);
        if (length < 2)
            return none();
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (!b.has(at, 7))
                return more();
            const qint64 height = b.be16(at + 3);
            const qint64 width = b.be16(at + 5);
            // A height of 0 is given later, by a DNL segment after the first scan.
            return height > 0 && width > 0 ? turned(done(width, height), orientation) : none();
        }
        // Exif comes before the frame header. Its directory is read within its segment: one that
        // runs past the segment's end leaves the picture unturned, one not all here yet waits.
        if (marker == 0xE1 && length >= 16 && b.is(at + 2, "Exif\0\0")) {
            const TiffTags exif = readTiff(b, at + 8, at + length);
            if (exif.step == Size::More)
                return more();
            if (exif.step == Size::Done)
                orientation = exif.orientation;
        }
        at += length;
    }
}

Size png(const Bytes& b) {
    if (!b.has(0, 24))
        return more();
    if (!b.is(12, "IHDR"))
        return none();
    return done(b.be32(16), b.be32(20));
}

Size gif(const Bytes& b) {
    if (!b.has(0, 10))
        return more();
    return done(b.le16(6), b.le16(8));
}

Size webp(const Bytes& b) {
    if (!b.has(0, 30))
        return more();
    if (b.is(12, "VP8 ")) {
        if (b.u8(23) != 0x9D || b.u8(24) != 0x01 || b.u8(25) != 0x2A)
            return none();
        return done(b.le16(26) & 0x3FFF, b.le16(28) & 0x3FFF);
    }
    if (b.is(12, "VP8L")) {
        if (b.u8(20) != 0x2F)
            return none();
        const quint32 bits = b.le32(21);
        return done((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    if (b.is(12, "VP8X"))
        return done(qint64(b.le24(24)) + 1, qint64(b.le24(27)) + 1);
    return none();
}

Size bmp(const Bytes& b) {
    if (!b.has(0, 26))
        return more();
    if (b.le32(14) == 12)
        return done(b.le16(18), b.le16(20));
    // Rows stored top-down give a negative height.
    return done(std::abs(qint64(qint32(b.le32(18)))), std::abs(qint64(qint32(b.le32(22)))));
}

bool bmpHeader(const Bytes& b) {
    if (!b.is(0, "BM") || !b.has(14, 4))
        return false;
    switch (b.le32(14)) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
        return true;
    default:
        return false;
    }
}

bool icoHeader(const Bytes& b) {
    // Reserved 0, type 1 (icon) or 2 (cursor), at least one entry whose reserved byte is 0.
    return b.has(0, 10) && b.le16(0) == 0 && (b.le16(2) == 1 || b.le16(2) == 2) && b.le16(4) > 0 &&
           b.u8(9) == 0;
}

// The largest picture of an icon; a stored 0 stands for 256.
Size ico(const Bytes& b) {
    const quint32 count = b.le16(4);
    if (!b.has(6, qint64(count) * 16))
        return more();
    qint64 width = 0;
    qint64 height = 0;
    for (quint32 i = 0; i < count; ++i) {
        const qint64 entry = 6 + qint64(i) * 16;
        const qint64 w = b.u8(entry) ? b.u8(entry) : 256;
        const qint64 h = b.u8(entry + 1) ? b.u8(entry + 1) : 256;
        if (ImageFacts::area(w, h) > ImageFacts::area(width, height)) {
            width = w;
            height = h;
        }
    }
    return done(width, height);
}

// An ISO media file (AVIF, HEIF): its boxes, each a size and a four-letter type.
struct Box {
    qint64 at = 0;   // where its content starts
    qint64 end = 0;  // where the box ends
    QByteArray type; // "meta"
    bool whole = false;
};

// The box at at, inside a parent that ends at limit; false when its header is not all there.
bool boxAt(const Bytes& b, qint64 at, qint64 limit, Box* box) {
    if (at + 8 > limit || !b.has(at, 8))
        return false;
    qint64 size = b.be32(at);
    qint64 header = 8;
    if (size == 1) {
        if (at + 16 > limit || !b.has(at, 16))
            return false;
        size = qint64(std::min<quint64>(b.be64(at + 8), quint64(1) << 62));
        header = 16;
    } else if (size == 0) {
        size = limit - at;
    }
    box->type = b.text(at + 4, 4);
    box->at = at + header;
    box->end = size < header ? at + header : at + size;
    box->whole = b.has(at, box->end - at);
    return true;
}

// A box inside a parent that is all here: false when it runs past the parent's end (a damaged file,
// whatever bytes follow the parent).
bool childAt(const Bytes& b, qint64 at, qint64 parentEnd, Box* box) {
    return boxAt(b, at, parentEnd, box) && box->end <= parentEnd;
}

// The size of an AVIF or HEIF image: the ispe property of its primary item (or the first one when
// no item is named primary), turned by its irot property.
Size isoImage(const Bytes& b, qint64 ftypEnd) {
    Box meta;
    for (qint64 at = ftypEnd;; at = meta.end) {
        if (!boxAt(b, at, b.size() + (qint64(1) << 40), &meta))
            return more();
        if (meta.type == "meta")
            break;
    }
    if (!meta.whole)
        return more();
    qint64 primary = -1;
    Box iprp;
    bool haveIprp = false;
    for (qint64 at = meta.at + 4; at < meta.end;) { // meta is a full box: version and flags first
        Box box;
        if (!childAt(b, at, meta.end, &box))
            return none();
        if (box.type == "pitm" && box.end - box.at >= 6)
            primary = b.u8(box.at) == 0       ? b.be16(box.at + 4)
                      : box.end - box.at >= 8 ? b.be32(box.at + 4)
                                              : -1;
        else if (box.type == "iprp") {
            iprp = box;
            haveIprp = true;
        }
        at = box.end;
    }
    if (!haveIprp)
        return none();
    // The properties in order (ipco, counted from 1), and which of them each item has (ipma).
    QList<Box> properties;
    QList<int> ofPrimary;
    for (qint64 at = iprp.at; at < iprp.end;) {
        Box box;
        if (!childAt(b, at, iprp.end, &box))
            return none();
        if (box.type == "ipco") {
            for (qint64 p = box.at; p < box.end;) {
                Box property;
                if (!childAt(b, p, box.end, &property))
                    return none();
                properties.append(property);
                p = property.end;
            }
        } else if (box.type == "ipma" && box.end - box.at >= 8) {
            const int version = int(b.u8(box.at));
            const bool wide = b.u8(box.at + 3) & 1;
            const quint32 entries = b.be32(box.at + 4);
            qint64 p = box.at + 8;
            for (quint32 e = 0; e < entries && p < box.end; ++e) {
                if (p + (version < 1 ? 3 : 5) > box.end)
                    return none();
                const qint64 item = version < 1 ? b.be16(p) : b.be32(p);
                p += version < 1 ? 2 : 4;
                const quint32 count = b.u8(p++);
                for (quint32 k = 0; k < count; ++k) {
                    if (p + (wide ? 2 : 1) > box.end)
                        return none();
                    const int index = wide ? int(b.be16(p) & 0x7FFF) : int(b.u8(p) & 0x7F);
                    p += wide ? 2 : 1;
                    if (item == primary)
                        ofPrimary.append(index);
                }
            }
        }
        at = box.end;
    }
    Size size = none();
    bool quarterTurn = false;
    auto take = [&](const Box& property) {
        if (property.type == "ispe" && property.end - property.at >= 12 && size.step != Size::Done)
            size = done(b.be32(property.at + 4), b.be32(property.at + 8));
        else if (property.type == "irot" && property.end - property.at >= 1)
            quarterTurn = b.u8(property.at) & 1;
    };
    if (!ofPrimary.isEmpty()) {
        for (int index : std::as_const(ofPrimary))
            if (index >= 1 && index <= properties.size())
                take(properties.at(index - 1));
    } else {
        for (const Box& property : std::as_const(properties))
            take(property);
    }
    if (quarterTurn)
        std::swap(size.width, size.height);
    return size;
}

struct Type {
    const char* mime = nullptr;
    const char* name = nullptr;
};

// The image type of an ISO media file by its brands; a video or other media file is none.
Type isoType(const Bytes& b, const Box& ftyp) {
    bool avif = false, heic = false, heif = false;
    auto brand = [&](const QByteArray& v) {
        avif |= v == "avif" || v == "avis";
        heic |= v == "heic" || v == "heix" || v == "heim" || v == "heis" || v == "hevc" || v == "hevx";
        heif |= v == "mif1" || v == "msf1";
    };
    if (b.has(ftyp.at, 4))
        brand(b.text(ftyp.at, 4));
    for (qint64 at = ftyp.at + 8; at + 4 <= ftyp.end && b.has(at, 4); at += 4)
        brand(b.text(at, 4));
    if (avif)
        return {"image/avif", "AVIF"};
    if (heic)
        return {"image/heic", "HEIC"};
    if (heif)
        return {"image/heif", "HEIF"};
    return {};
}

// A length as SVG writes it, in CSS pixels; -1 for a percentage, a font-relative unit or nonsense.
double svgLength(QStringView text) {
    text = text.trimmed();
    qsizetype end = 0;
    while (end < text.size() && (text.at(end).isDigit() || text.at(end) == u'.' || text.at(end) == u'-' ||
                                 text.at(end) == u'+' || text.at(end) == u'e' || text.at(end) == u'E'))
        ++end;
    bool ok = false;
    const double number = text.left(end).toDouble(&ok);
    if (!ok || number <= 0)
        return -1;
    const QStringView unit = text.sliced(end).trimmed();
    if (unit.isEmpty() || unit == u"px")
        return number;
    if (unit == u"in")
        return number * 96;
    if (unit == u"cm")
        return number * 96 / 2.54;
    if (unit == u"mm")
        return number * 96 / 25.4;
    if (unit == u"pt")
        return number * 4 / 3;
    if (unit == u"pc")
        return number * 16;
    return -1;
}

// The size of an SVG picture from its root's width and height, completed from its viewBox.
Size svgSize(const QXmlStreamAttributes& attributes) {
    double width = svgLength(attributes.value(QStringLiteral("width")));
    double height = svgLength(attributes.value(QStringLiteral("height")));
    const QString box = attributes.value(QStringLiteral("viewBox")).toString();
    const QStringList parts = box.simplified().replace(u',', u' ').split(u' ', Qt::SkipEmptyParts);
    double boxWidth = -1, boxHeight = -1;
    if (parts.size() == 4) {
        boxWidth = parts.at(2).toDouble();
        boxHeight = parts.at(3).toDouble();
    }
    if (boxWidth > 0 && boxHeight > 0) {
        if (width <= 0 && height <= 0) {
            width = boxWidth;
            height = boxHeight;
        } else if (width <= 0) {
            width = height * boxWidth / boxHeight;
        } else if (height <= 0) {
            height = width * boxHeight / boxWidth;
        }
    }
    // Beyond any real picture (up to 1e308 in the text): no size, and never a number that no
    // integer holds.
    const auto plausible = [](double side) {
        return std::isfinite(side) && side > 0 && side <= double(ImageFacts::MaxSide);
    };
    if (!plausible(width) || !plausible(height))
        return none();
    return done(std::llround(width), std::llround(height));
}

// How many of the first bytes the text check looks at.
constexpr qsizetype TextCheckBytes = 1024;

// Text that no image starts with: printable characters, line breaks and tabs (UTF-8 included) in
// the first TextCheckBytes.
bool looksLikeText(const Bytes& b) {
    const qsizetype n = std::min<qsizetype>(b.size(), TextCheckBytes);
    for (qsizetype i = 0; i < n; ++i) {
        const quint32 c = b.u8(i);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')
            return false;
    }
    return n > 0;
}

enum class Markup { Svg, Other, More, NotMarkup };

// A document whose root element does not start within this many bytes is no picture.
constexpr qsizetype MarkupBytes = 256 * 1024;

// A document that starts with markup: SVG when its root element is svg. XML declarations,
// comments, processing instructions and a doctype may come first.
Markup markup(const QByteArray& head, Size* size) {
    qsizetype start = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < head.size() && QChar::isSpace(uchar(head.at(start))))
        ++start;
    if (start >= head.size())
        return Markup::More;
    if (head.at(start) != '<')
        return Markup::NotMarkup;
    // Read as UTF-8 that a fault does not stop (U+FFFD in its place), and no further than
    // MarkupBytes: bytes after the root's start tag, valid or not, never change the answer, so that a
    // prefix and the whole file agree.
    const bool cut = head.size() - start > MarkupBytes;
    QXmlStreamReader xml(QString::fromUtf8(head.mid(start, MarkupBytes)));
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name().compare(QLatin1String("svg"), Qt::CaseSensitive) != 0)
                return Markup::Other;
            *size = svgSize(xml.attributes());
            return Markup::Svg;
        }
        if (token == QXmlStreamReader::Invalid)
            break;
    }
    // The start of an HTML page is often no XML at all (<!doctype html> in lower case, a <meta>
    // without end): the first tag name decides.
    if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
        return cut ? Markup::Other : Markup::More;
    return Markup::Other;
}

ImageFacts image(const char* mime, const char* name, const Size& size) {
    ImageFacts f;
    f.verdict = ImageFacts::Verdict::Image;
    f.mimeType = QString::fromLatin1(mime);
    f.typeName = QString::fromLatin1(name);
    if (size.step == Size::Done && ImageFacts::plausible(size.width, size.height)) {
        f.width = size.width;
        f.height = size.height;
    }
    return f;
}

ImageFacts judged(ImageFacts::Verdict v) {
    ImageFacts f;
    f.verdict = v;
    return f;
}

} // namespace

ImageFacts ImageFacts::read(const QByteArray& head, bool complete) {
    const Bytes b(head);
    Size size;
    const char* mime = nullptr;
    const char* name = nullptr;
    Box ftyp;
    // Shorter than any signature read here: wait for more, unless that is all.
    if (!complete && head.size() < 32)
        return judged(Verdict::NeedMore);
    if (b.is(0, "\xFF\xD8\xFF")) {
        size = jpeg(b);
        mime = "image/jpeg", name = "JPEG";
    } else if (b.is(0, "\x89PNG\r\n\x1A\n")) {
        size = png(b);
        mime = "image/png", name = "PNG";
    } else if (b.is(0, "GIF87a") || b.is(0, "GIF89a")) {
        size = gif(b);
        mime = "image/gif", name = "GIF";
    } else if (b.is(0, "RIFF") && b.is(8, "WEBP")) {
        size = webp(b);
        mime = "image/webp", name = "WebP";
    } else if (bmpHeader(b)) {
        size = bmp(b);
        mime = "image/bmp", name = "BMP";
    } else if (icoHeader(b)) {
        size = ico(b);
        mime = "image/x-icon", name = "ICO";
    } else if (b.is(0, "II*\0") || b.is(0, "MM\0*")) {
        const TiffTags t = readTiff(b, 0, std::numeric_limits<qint64>::max() / 2);
        size = t.step == Size::Done && t.width > 0 && t.height > 0 ? done(t.width, t.height) : Size{t.step};
        mime = "image/tiff", name = "TIFF";
    } else if (boxAt(b, 0, b.size(), &ftyp) && ftyp.type == "ftyp") {
        // The brands decide: all of them are needed, however late the image's brand comes (a box
        // of size 0 runs to the end of the file).
        if (!complete && (!ftyp.whole || b.be32(0) == 0))
            return judged(Verdict::NeedMore);
        const Type type = isoType(b, ftyp);
        if (!type.mime)
            return judged(Verdict::NotImage);
        size = isoImage(b, ftyp.end);
        mime = type.mime, name = type.name;
    } else {
        Size svg;
        switch (markup(head, &svg)) {
        case Markup::Svg:
            return image("image/svg+xml", "SVG", svg);
        case Markup::More:
            if (!complete)
                return judged(Verdict::NeedMore);
            return judged(Verdict::NotImage);
        case Markup::Other:
            return judged(Verdict::NotImage);
        case Markup::NotMarkup:
            break;
        }
        const bool text = looksLikeText(b);
        // Text so far, and bytes still to come where the check looks.
        if (text && !complete && head.size() < TextCheckBytes)
            return judged(Verdict::NeedMore);
        return judged(text || head.isEmpty() ? Verdict::NotImage : Verdict::Unknown);
    }
    if (size.step == Size::More && !complete)
        return judged(Verdict::NeedMore);
    return image(mime, name, size);
}

qint64 ImageFacts::area(qint64 width, qint64 height) {
    if (width <= 0 || height <= 0)
        return 0;
    if (width > std::numeric_limits<qint64>::max() / height)
        return std::numeric_limits<qint64>::max();
    return width * height;
}

bool ImageFacts::plausible(qint64 width, qint64 height) {
    return width > 0 && height > 0 && width <= MaxSide && height <= MaxSide;
}

bool ImageFacts::isImage() const {
    return verdict == Verdict::Image;
}

bool ImageFacts::hasSize() const {
    return isImage() && width > 0 && height > 0;
}

QString ImageFacts::problem() const {
    switch (verdict) {
    case Verdict::Image:
        return hasSize() ? QString() : QStringLiteral("画像の大きさを読み取れませんでした");
    case Verdict::NeedMore:
        return QStringLiteral("画像の始まりを読み終えられませんでした");
    case Verdict::NotImage:
        return QStringLiteral("画像ではありません");
    case Verdict::Unknown:
        break;
    }
    return QStringLiteral("画像の種類がわかりません");
}
