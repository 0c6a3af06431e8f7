// Image facts: the whole file gets an answer (never "need more bytes"), a size only within a million
// pixels a side; any prefix answers as the whole file does or asks for more; and the structure check
// of every type runs on any bytes.

#include "FuzzInput.h"
#include "ImageFacts.h"
#include "ImageStructure.h"

#include <QStringList>

namespace {

QString shown(const ImageFacts& f) {
    return QStringLiteral("%1 %2 %3x%4").arg(int(f.verdict)).arg(f.mimeType).arg(f.width).arg(f.height);
}

bool same(const ImageFacts& a, const ImageFacts& b) {
    return a.verdict == b.verdict && a.mimeType == b.mimeType && a.typeName == b.typeName &&
           a.width == b.width && a.height == b.height;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    // What a report shows, made only when a rule is broken.
    const auto fail = [&](const char* rule, const QString& result, qsizetype cut = -1) {
        QString input = QString::fromLatin1(file.left(512).toHex());
        if (cut >= 0)
            input += QStringLiteral(" cut at %1").arg(cut);
        FuzzInput::require(false, rule, input, result);
    };

    const ImageFacts whole = ImageFacts::read(file, true);
    if (whole.verdict == ImageFacts::Verdict::NeedMore)
        fail("the whole file gets an answer", shown(whole));
    if (!same(whole, ImageFacts::read(file, true)))
        fail("the same answer each time", shown(whole));
    if (!(whole.width == -1 && whole.height == -1) &&
        !(whole.isImage() && ImageFacts::plausible(whole.width, whole.height)))
        fail("a size is of an image, at most a million pixels a side", shown(whole));
    if (whole.isImage() == whole.mimeType.isEmpty())
        fail("an image has a type", shown(whole));

    // Prefixes: around the 32 bytes below which none is read, and some drawn from the input.
    FuzzInput::Choices choices(data, size);
    QList<qsizetype> cuts{0, 31, 32, 33, 40, 64};
    for (int i = 0; i < 6 && file.size() > 0; ++i)
        cuts.append(qsizetype(choices.below(quint32(file.size()) + 1)));
    cuts.append(file.size());
    for (const qsizetype cut : std::as_const(cuts)) {
        if (cut > file.size())
            continue;
        const ImageFacts part = ImageFacts::read(file.left(cut), false);
        if (part.verdict != ImageFacts::Verdict::NeedMore && !same(part, whole))
            fail("a prefix answers as the whole file does, or asks for more",
                 shown(part) + QStringLiteral(" / ") + shown(whole), cut);
    }

    for (const char* type : {"PNG", "JPEG", "GIF", "WebP", "BMP", "ICO", "TIFF", "SVG", "AVIF"}) {
        const QString problem = ImageStructure::problem(file, QString::fromLatin1(type));
        if (!problem.isEmpty() && problem != ImageStructure::damagedText())
            fail("the structure check says why", problem);
        if (ImageStructure::decodeBytes(file, QString::fromLatin1(type), 70000, 70000) <
            qint64(70000) * 70000 * 4)
            fail("decoding takes at least the pixels", QString::fromLatin1(type));
    }
    return 0;
}
