#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <atomic>

// What UniqueFileReservation and its ReservedFiles share: the open folder and the names handed out
// in this batch (case-folded). Closed when the last of them goes.
struct ReservationFolder {
    ~ReservationFolder();

    // Opens the folder at path ("" is the working folder); false with errno set when it is no
    // folder or cannot be opened.
    bool open(const QString& folderPath);

    QString path;
    int fd = -1;
    // The n-th name for a folder whose name is taken by a file (n = 1 is the name itself): the
    // caller's naming rule, e.g. "Gallery (2)". Set before folderFd is called.
    QString (*numberedName)(const QString& name, int n) = nullptr;
    QMutex mutex;
    QSet<QString> taken;
    // What the folder's file system turned out not to have (FAT, exFAT, many FUSE and network
    // mounts): hard links, and a rename that refuses to replace (renameat2 RENAME_NOREPLACE).
    std::atomic<bool> noHardLinks = false;
    std::atomic<bool> noExclusiveRename = false;

    // The folders inside this one that names with "/" go into, open, by the relative path asked
    // for and by where they are (the same unless something else stood in the way, see folderFd).
    struct Subfolder {
        int fd = -1;
        QString path;
    };
    QHash<QString, Subfolder> subfolders;
    QList<int> openFolders;

    // The open folder for a relative folder path ("" is this folder): each part made where it is
    // missing and opened without following a symbolic link, so that nothing is ever written outside
    // this folder; where a file or a symbolic link stands in a part's place, the part gets a number
    // ("Gallery (2)"). actual, when given, gets the relative path where the folder is. -1 with errno
    // set when it cannot be made. Called with mutex held.
    int folderFd(const QString& relative, QString* actual = nullptr);

    // 0 when an entry named name (a symbolic link, even a dangling one, included) is in the open
    // folder dir; otherwise the error number (ENOENT: there is none).
    static int entryStatus(int dir, const QString& name);

    static QString folded(const QString& name);
    // True for the hidden name of a download's temporary file.
    static bool isTemporaryName(const QByteArray& name);
    // Removes the temporary files that transfers killed in this folder left behind. A running
    // transfer holds a lock on its file (of this or another process), so its file stays.
    void removeAbandonedFiles();

    // Holds the folder against this batch's threads and, with a lock on the folder itself, against
    // other processes, while temporary files are made or removed and while a name is checked and
    // then taken by a plain rename.
    class Lock {
    public:
        explicit Lock(ReservationFolder& folder);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        ReservationFolder& m_folder;
        bool m_locked = false;
    };
};
