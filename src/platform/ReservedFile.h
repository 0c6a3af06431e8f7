#pragma once

#include <QString>

#include <memory>

struct ReservationFolder;

// One download's data: a file in the target folder that has no name until it is complete, so that
// nothing under a final name is ever half-written. Made with O_TMPFILE where the file system has it
// (then even a crash or a power cut during the transfer leaves nothing behind); elsewhere a hidden
// temporary file that discard() removes, locked while it is in use so that the next batch in the
// folder can tell the leftover of a killed transfer. publish() gives it its final name in one step
// that never replaces an existing entry: a hard link; where the file system has none (FAT, exFAT,
// many FUSE and network mounts), a rename that refuses to replace (RENAME_NOREPLACE), and where even
// that is missing, a rename after a check, under the folder's lock. Made by
// UniqueFileReservation::createFile.
class ReservedFile {
public:
    // What became of publish().
    enum class Published { Done, NameTaken, Failed };

    ~ReservedFile();
    ReservedFile(const ReservedFile&) = delete;
    ReservedFile& operator=(const ReservedFile&) = delete;

    // The final name once published, and the folder joined with it.
    QString fileName() const;
    QString path() const;
    qint64 bytesWritten() const;
    // True when the file is an unnamed O_TMPFILE one.
    bool isUnnamed() const;
    // The open file (-1 once published or discarded), for flushing its data to the disk.
    int descriptor() const;

    // Appends data. On failure error gets the reason.
    bool write(const char* data, qint64 size, QString* error);
    // Empties the file, for a transfer that starts over.
    bool truncate(QString* error);
    // Gives the file the plain name in the folder (or a name with folders that
    // UniqueFileReservation::claim made). NameTaken when an entry of that name exists
    // (nothing is ever replaced); Failed with a reason for anything else. The file stays usable
    // after NameTaken, so that another name can be tried.
    Published publish(const QString& name, QString* error);
    // Removes the data. Safe to call more than once; a published file stays.
    void discard();

private:
    friend class UniqueFileReservation;
    explicit ReservedFile(std::shared_ptr<ReservationFolder> folder);
    bool open(bool allowUnnamed, QString* error);
    // Opens (or makes) the hidden file of that name, keeping what it holds, to append to it.
    bool openPartial(const QString& name, QString* error);
    bool openTemporary(QString* error);
    bool writeAll(const char* data, qint64 size, int* errorNumber);
    // Gives the data the name: linked where the file system can, renamed where it cannot.
    // target is the open folder that gets the name (the folder or one inside it).
    Published placeNamed(int target, const QByteArray& name, int* errorNumber);
    Published linkNamed(int target, const QByteArray& name, int* errorNumber);
    Published renameNamed(int target, const QByteArray& name, int* errorNumber);
    // Copies an unnamed file's data into a hidden temporary file, for a file system that made the
    // unnamed file but cannot link it.
    bool moveIntoTemporary(int* errorNumber);

    std::shared_ptr<ReservationFolder> m_folder;
    QString m_name;
    // The hidden name of a temporary file where O_TMPFILE is not available; empty otherwise.
    QByteArray m_tempBytes;
    int m_fd = -1;
    qint64 m_written = 0;
    // Where the data not yet handed to the disk's writeback begins.
    qint64 m_writebackFrom = 0;
    bool m_finished = false;
};
