#pragma once

#include "PictureFacts.h"

#include <QImage>
#include <QString>

#include <optional>

// Thumbnails kept on disk between runs, one PNG file per address (named by a hash of it) with the
// image's facts in its text chunks, so that a second look at a page needs no fetch. The folder is
// kept under a limit by dropping the files used least recently. A plain value: its functions may run
// on any thread at once (files are written under a temporary name and renamed into place).
class ThumbnailDiskCache {
public:
    struct Entry {
        QImage thumbnail;
        PictureFacts facts;
    };

    static constexpr qint64 DefaultLimit = 500LL * 1024 * 1024;
    // A kept file larger than this, or a thumbnail larger a side, is no file of the cache.
    static constexpr qint64 MostFileBytes = 1024 * 1024;
    static constexpr int MostThumbnailSide = 512;

    // An empty folder keeps nothing.
    explicit ThumbnailDiskCache(const QString& folder = {}, qint64 limitBytes = DefaultLimit);
    // "thumbnails" in the user's cache folder.
    static QString defaultFolder();

    QString folder() const;
    // The thumbnail of an address and its facts; none when not kept. A file read is marked as used.
    std::optional<Entry> load(const QString& url) const;
    // The entry a cache file holds for url; none when the file is damaged (checked before any image
    // library reads it), too large, or another address's. Stored facts out of range are not known.
    static std::optional<Entry> read(const QString& url, const QByteArray& file);
    // Keeps a thumbnail; false when it could not be written.
    bool save(const QString& url, const Entry& entry) const;
    // Drops the least recently used files until the folder is within the limit; the bytes it holds.
    qint64 trim() const;

private:
    QString fileFor(const QString& url) const;

    QString m_folder;
    qint64 m_limit;
};
