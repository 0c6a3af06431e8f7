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
    const QString input = QString::fromLatin1(file.left(512).toHex());

    const ImageFacts whole = ImageFacts::read(file, true);
    FuzzInput::require(whole.verdict != ImageFacts::Verdict::NeedMore, "the whole file gets an answer", input,
                       shown(whole));
    FuzzInput::require(same(whole, ImageFacts::read(file, true)), "the same answer each time", input,
                       shown(whole));
    FuzzInput::require((whole.width == -1 && whole.height == -1) ||
                           (whole.isImage() && ImageFacts::plausible(whole.width, whole.height)),
                       "a size is of an image, at most a million pixels a side", input, shown(whole));
    FuzzInput::require(whole.isImage() == !whole.mimeType.isEmpty(), "an image has a type", input,
                       shown(whole));

    // Prefixes: every short one, and some longer ones drawn from the input.
    FuzzInput::Choices choices(data, size);
    QList<qsizetype> cuts;
    for (qsizetype n = 0; n <= std::min<qsizetype>(file.size(), 40); ++n)
        cuts.append(n);
    for (int i = 0; i < 8 && file.size() > 0; ++i)
        cuts.append(qsizetype(choices.below(quint32(file.size()) + 1)));
    cuts.append(file.size());
    for (const qsizetype cut : std::as_const(cuts)) {
        const ImageFacts part = ImageFacts::read(file.left(cut), false);
        FuzzInput::require(part.verdict == ImageFacts::Verdict::NeedMore || same(part, whole),
                           "a prefix answers as the whole file does, or asks for more",
                           input + QStringLiteral(" cut at %1").arg(cut),
                           shown(part) + QStringLiteral(" / ") + shown(whole));
    }

    for (const char* type : {"PNG", "JPEG", "GIF", "WebP", "BMP", "ICO", "TIFF", "SVG", "AVIF"}) {
        const QString problem = ImageStructure::problem(file, QString::fromLatin1(type));
        FuzzInput::require(problem.isEmpty() || problem == ImageStructure::damagedText(),
                           "the structure check says why", input, problem);
        FuzzInput::require(ImageStructure::decodeBytes(file, QString::fromLatin1(type), 70000, 70000) >=
                               qint64(70000) * 70000 * 4,
                           "decoding takes at least the pixels", input);
    }
    return 0;
}
