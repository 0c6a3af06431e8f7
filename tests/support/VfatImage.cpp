#include "VfatImage.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr qint64 ImageBytes = 32 * 1024 * 1024;
constexpr long MsdosMagic = 0x4d44;
constexpr long FuseMagic = 0x65735546;

QString findProgram(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty()
               ? QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
               : found;
}

} // namespace

VfatImage::~VfatImage() {
    if (!m_mounted)
        return;
    if (m_fuse)
        run(QStringLiteral("fusermount"), {QStringLiteral("-u"), m_mountPoint});
    else
        run(QStringLiteral("umount"), {m_mountPoint});
}

bool VfatImage::run(const QString& program, const QStringList& arguments) {
    const QString path = findProgram(program);
    if (path.isEmpty())
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool VfatImage::mount() {
    if (::geteuid() != 0) {
        m_reason = QStringLiteral("mounting a FAT image needs root");
        return false;
    }
    if (findProgram(QStringLiteral("mkfs.vfat")).isEmpty()) {
        m_reason = QStringLiteral("mkfs.vfat (dosfstools) is not installed");
        return false;
    }
    const QString image = m_dir.filePath(QStringLiteral("fat.img"));
    m_mountPoint = m_dir.filePath(QStringLiteral("mnt"));
    QFile file(image);
    if (!m_dir.isValid() || !QDir().mkpath(m_mountPoint) || !file.open(QIODevice::WriteOnly) ||
        !file.resize(ImageBytes)) {
        m_reason = QStringLiteral("cannot make the image file");
        return false;
    }
    file.close();
    if (!run(QStringLiteral("mkfs.vfat"), {image})) {
        m_reason = QStringLiteral("mkfs.vfat failed");
        return false;
    }
    if (run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("vfat"), QStringLiteral("-o"),
                                      QStringLiteral("loop"), image, m_mountPoint})) {
        m_mounted = true;
    } else if (run(QStringLiteral("fusefat"),
                   {QStringLiteral("-o"), QStringLiteral("rw+"), image, m_mountPoint})) {
        m_mounted = true;
        m_fuse = true;
    } else {
        m_reason =
            QStringLiteral("neither a loop mount (no vfat in this kernel?) nor fusefat (not installed, "
                           "or no /dev/fuse) could mount a FAT image");
        return false;
    }
    struct statfs st {};
    const QByteArray where = QFile::encodeName(m_mountPoint);
    if (::statfs(where.constData(), &st) != 0 || (st.f_type != MsdosMagic && st.f_type != FuseMagic)) {
        m_reason = QStringLiteral("the FAT image did not show up at its mount point");
        return false;
    }
    return true;
}

QString VfatImage::path() const {
    return m_mountPoint;
}

QString VfatImage::skipReason() const {
    return m_reason;
}
