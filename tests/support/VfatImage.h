#pragma once

#include <QString>
#include <QTemporaryDir>

// A small FAT file system for a test, as on a USB stick: no hard links, no O_TMPFILE, no rename
// that refuses to replace. Mounted from an image made with mkfs.vfat, by the kernel (a loop mount)
// where it can, otherwise through FUSE with fusefat; both need root. Unmounted when destroyed.
class VfatImage {
public:
    VfatImage() = default;
    ~VfatImage();
    VfatImage(const VfatImage&) = delete;
    VfatImage& operator=(const VfatImage&) = delete;

    // False, with the reason in skipReason(), when neither way of mounting works here.
    bool mount();
    // The mounted file system's root.
    QString path() const;
    QString skipReason() const;

private:
    bool run(const QString& program, const QStringList& arguments);

    QTemporaryDir m_dir;
    QString m_mountPoint;
    QString m_reason;
    bool m_fuse = false;
    bool m_mounted = false;
};
