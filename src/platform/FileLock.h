#pragma once

#include <QByteArray>
#include <QString>

// An exclusive lock that one process at a time holds on a lock file of its own, taken without
// waiting and let go when the object goes or the process ends, however it ends. The lock file is
// made when missing and removed while still held when the lock is let go, so that no one takes the
// lock of a file that is about to go; a lock taken on a file that its holder removed meanwhile is
// no lock, so the file is opened again until the one locked is the one at the path.
class FileLock {
public:
    // Tries to take the lock of the file at path (its folder must exist), without waiting.
    explicit FileLock(const QString& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const;

private:
    QByteArray m_path;
    int m_fd = -1;
};
