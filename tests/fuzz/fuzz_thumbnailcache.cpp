// The thumbnail disk cache's files: whatever a file holds, reading it stays within bounds (the
// structure is checked before the image library sees it), and an entry read has facts in range and
// a thumbnail of a thumbnail's size; an entry written reads back with its facts, those out of range
// as not known.

#include "FuzzInput.h"
#include "ImageFacts.h"
#include "ThumbnailDiskCache.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace {

const QString Url = QStringLiteral("http://h/a.png");

void requireInRange(const ThumbnailDiskCache::Entry& entry, const QString& input) {
    const PictureFacts& f = entry.facts;
    FuzzInput::require((f.width == -1 && f.height == -1) || ImageFacts::plausible(f.width, f.height),
                       "a size read is within a million pixels a side", input,
                       QStringLiteral("%1x%2").arg(f.width).arg(f.height));
    FuzzInput::require(f.bytes >= -1, "a byte count read is not negative", input);
    FuzzInput::require(f.typeName.size() <= 8 && QStringView(f.typeName).isValidUtf16(),
                       "a type name read is short", input, f.typeName);
    FuzzInput::require(!entry.thumbnail.isNull() &&
                           entry.thumbnail.width() <= ThumbnailDiskCache::MostThumbnailSide &&
                           entry.thumbnail.height() <= ThumbnailDiskCache::MostThumbnailSide,
                       "a thumbnail read is of a thumbnail's size", input);
}

} // namespace

// Input: a byte choosing the mode; then a cache file (mode even), or the stored facts as text
// separated by NULs: type, width, height, bytes (mode odd).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString input = QString::fromLatin1(rest.left(256).toHex());
    if (data[0] % 2 == 0) {
        const std::optional<ThumbnailDiskCache::Entry> entry = ThumbnailDiskCache::read(Url, rest);
        if (entry)
            requireInRange(*entry, input);
        return 0;
    }
    static QTemporaryDir folder;
    const ThumbnailDiskCache cache(folder.path());
    const QStringList parts = FuzzInput::text(data + 1, size - 1).split(QChar(0));
    ThumbnailDiskCache::Entry entry;
    entry.thumbnail = QImage(8, 6, QImage::Format_RGB888);
    entry.thumbnail.fill(Qt::darkCyan);
    entry.facts.state = PictureFacts::State::Known;
    entry.facts.typeName = parts.value(0);
    entry.facts.width = parts.value(1).toLongLong();
    entry.facts.height = parts.value(2).toLongLong();
    entry.facts.bytes = parts.value(3).toLongLong();
    if (!cache.save(Url, entry))
        return 0;
    const std::optional<ThumbnailDiskCache::Entry> read = cache.load(Url);
    FuzzInput::require(read.has_value(), "an entry written reads back",
                       FuzzInput::printable(parts.join(u'|')));
    requireInRange(*read, input);
    const bool sized = ImageFacts::plausible(entry.facts.width, entry.facts.height);
    FuzzInput::require(read->facts.width == (sized ? entry.facts.width : -1) &&
                           read->facts.height == (sized ? entry.facts.height : -1),
                       "a size in range reads back, another as not known",
                       FuzzInput::printable(parts.join(u'|')));
    FuzzInput::require(read->facts.bytes == (entry.facts.bytes >= 0 ? entry.facts.bytes : -1),
                       "a byte count reads back, a negative one as not known",
                       FuzzInput::printable(parts.join(u'|')));
    FuzzInput::require(read->thumbnail.size() == entry.thumbnail.size(), "the thumbnail reads back",
                       FuzzInput::printable(parts.join(u'|')));
    return 0;
}
