#pragma once

#include <QString>

#include <memory>
#include <sys/types.h>

struct ReservationFolder;

// One download's file: its final name is held by an empty placeholder inside the folder, and the
// data goes to a hidden temporary file beside it. commit() renames the temporary file over the
// placeholder; discard() (or destruction without commit) removes both, so that a failed transfer
// leaves nothing behind. Made by UniqueFileReservation::reserve.
class ReservedFile {
public:
    ~ReservedFile();
    ReservedFile(const ReservedFile&) = delete;
    ReservedFile& operator=(const ReservedFile&) = delete;

    // The final name, and the folder joined with it.
    QString fileName() const;
    QString path() const;
    qint64 bytesWritten() const;

    // Appends data to the temporary file. On failure error gets the reason.
    bool write(const char* data, qint64 size, QString* error);
    // Closes the temporary file and gives it the final name. False, with nothing left on disk,
    // when that fails or when the placeholder was replaced by something else meanwhile.
    bool commit(QString* error);
    // Removes the temporary file and the placeholder. Safe to call more than once.
    void discard();

private:
    friend class UniqueFileReservation;
    ReservedFile(std::shared_ptr<ReservationFolder> folder, QString name, dev_t device, ino_t inode);
    bool openTemporary(QString* error);
    bool placeholderIsOurs() const;
    void closeTemporary();

    std::shared_ptr<ReservationFolder> m_folder;
    QString m_name;
    QByteArray m_nameBytes;
    QByteArray m_tempBytes;
    dev_t m_device;
    ino_t m_inode;
    int m_fd = -1;
    qint64 m_written = 0;
    bool m_finished = false;
};
