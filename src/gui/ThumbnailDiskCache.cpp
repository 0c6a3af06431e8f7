#include "ThumbnailDiskCache.h"

#include "ImageFacts.h"
#include "ImageStructure.h"
#include "ProgramFolders.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>

#include <algorithm>

namespace {

const QString TypeKey = QStringLiteral("nepirika-type");
const QString WidthKey = QStringLiteral("nepirika-width");
const QString HeightKey = QStringLiteral("nepirika-height");
const QString BytesKey = QStringLiteral("nepirika-bytes");
const QString UrlKey = QStringLiteral("nepirika-url");

} // namespace

ThumbnailDiskCache::ThumbnailDiskCache(const QString& folder, qint64 limitBytes)
    : m_folder(folder)
    , m_limit(limitBytes) {}

QString ThumbnailDiskCache::defaultFolder() {
    return ProgramFolders::folder(ProgramFolders::Kind::Cache) + QStringLiteral("/thumbnails");
}

QString ThumbnailDiskCache::folder() const {
    return m_folder;
}

QString ThumbnailDiskCache::fileFor(const QString& url) const {
    const QByteArray hash = QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex();
    // Spread over 256 folders, so that no folder grows too large to list quickly.
    return m_folder + QLatin1Char('/') + QLatin1String(hash.left(2)) + QLatin1Char('/') +
           QLatin1String(hash.mid(2)) + QStringLiteral(".png");
}

std::optional<ThumbnailDiskCache::Entry> ThumbnailDiskCache::load(const QString& url) const {
    if (m_folder.isEmpty())
        return std::nullopt;
    const QString path = fileFor(url);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return std::nullopt;
    // A file far larger than any thumbnail is not read into memory at all.
    const QByteArray bytes = file.size() <= MostFileBytes ? file.readAll() : QByteArray();
    std::optional<Entry> entry = read(url, bytes);
    if (!entry) {
        // Damaged, or another address's: written again once the picture is fetched.
        const bool damaged =
            file.size() > MostFileBytes || !ImageStructure::problem(bytes, QStringLiteral("PNG")).isEmpty();
        file.close();
        if (damaged)
            QFile::remove(path);
        return std::nullopt;
    }
    // Used now: the last to go when the folder is trimmed.
    file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    return entry;
}

std::optional<ThumbnailDiskCache::Entry> ThumbnailDiskCache::read(const QString& url,
                                                                  const QByteArray& file) {
    // Checked like a server's picture before the image library sees it: a text chunk claiming 2 GB
    // in a damaged file would otherwise be allocated.
    if (file.isEmpty() || file.size() > MostFileBytes ||
        !ImageStructure::problem(file, QStringLiteral("PNG")).isEmpty())
        return std::nullopt;
    QByteArray data = file;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    reader.setAllocationLimit(4);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MostThumbnailSide || size.height() > MostThumbnailSide)
        return std::nullopt;
    // The address itself is kept too: a hash that two addresses share is not taken for the other.
    if (reader.text(UrlKey) != url)
        return std::nullopt;
    Entry entry;
    entry.facts.state = PictureFacts::State::Known;
    // The stored facts are taken as a server's would be: a type name as the window gives them, a
    // size of at most a million pixels a side, a byte count that is not negative; else not known.
    const QString type = reader.text(TypeKey);
    const bool typeNamed = type.size() <= 8 && std::all_of(type.cbegin(), type.cend(), [](QChar c) {
                               return c.unicode() < 0x80 && c.isLetterOrNumber();
                           });
    entry.facts.typeName = typeNamed ? type : QString();
    bool widthRead = false, heightRead = false, bytesRead = false;
    const qint64 width = reader.text(WidthKey).toLongLong(&widthRead);
    const qint64 height = reader.text(HeightKey).toLongLong(&heightRead);
    if (widthRead && heightRead && ImageFacts::plausible(width, height)) {
        entry.facts.width = width;
        entry.facts.height = height;
    }
    const qint64 bytes = reader.text(BytesKey).toLongLong(&bytesRead);
    entry.facts.bytes = bytesRead && bytes >= 0 ? bytes : -1;
    if (!reader.read(&entry.thumbnail))
        return std::nullopt;
    return entry;
}

bool ThumbnailDiskCache::save(const QString& url, const Entry& entry) const {
    if (m_folder.isEmpty() || entry.thumbnail.isNull())
        return false;
    const QString path = fileFor(url);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QImage image = entry.thumbnail;
    image.setText(UrlKey, url);
    image.setText(TypeKey, entry.facts.typeName);
    image.setText(WidthKey, QString::number(entry.facts.width));
    image.setText(HeightKey, QString::number(entry.facts.height));
    image.setText(BytesKey, QString::number(entry.facts.bytes));
    // Never a half-written file under the final name: written aside, then renamed.
    const QString partial =
        path + QStringLiteral(".part-%1").arg(QRandomGenerator::global()->generate(), 0, 16);
    QImageWriter writer(partial, "png");
    if (!writer.write(image)) {
        QFile::remove(partial);
        return false;
    }
    QFile::remove(path);
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        return false;
    }
    return true;
}

qint64 ThumbnailDiskCache::trim() const {
    if (m_folder.isEmpty())
        return 0;
    struct Kept {
        QString path;
        qint64 size;
        QDateTime used;
    };
    std::vector<Kept> files;
    qint64 total = 0;
    const QDir root(m_folder);
    for (const QFileInfo& sub : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QFileInfo& info : QDir(sub.filePath()).entryInfoList(QDir::Files)) {
            files.push_back({info.filePath(), info.size(), info.lastModified()});
            total += info.size();
        }
    }
    if (total <= m_limit)
        return total;
    std::sort(files.begin(), files.end(), [](const Kept& a, const Kept& b) { return a.used < b.used; });
    for (const Kept& file : files) {
        if (total <= m_limit)
            break;
        if (QFile::remove(file.path))
            total -= file.size;
    }
    return total;
}
