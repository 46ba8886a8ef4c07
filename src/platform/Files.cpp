#include "Files.h"

#include "Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {

namespace {

constexpr off_t writerByte = off_t(1) << 62;

bool lockWriterByte(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = writerByte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

QString scratchPrefix(const QString &target, const QString &kind)
{
    return QStringLiteral(".%1.%2-").arg(QFileInfo(target).fileName(), kind);
}

} // namespace

QString shownPath(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

void removeDatabase(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
        return false;
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        errno = EEXIST;
        return false;
    }
    return ::rename(source.constData(), target.constData()) == 0;
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat first = {};
    struct stat second = {};
    return ::lstat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::lstat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

QString systemReason(int error)
{
    return error == ENOSPC ? QStringLiteral("на диске нет свободного места")
                           : QString::fromLocal8Bit(std::strerror(error));
}

void syncToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int why = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        throw Error(systemReason(why));
}

QString scratchName(const QString &target, const QString &kind)
{
    return QFileInfo(target).absoluteDir().filePath(
        scratchPrefix(target, kind) +
        QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
}

WriterMark::WriterMark(const QString &path)
    : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC))
{
    if (m_fd >= 0)
        lockWriterByte(m_fd);
}

WriterMark::~WriterMark()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QStringList removeLeftovers(const QString &target, const QString &kind)
{
    const QDir folder = QFileInfo(target).absoluteDir();
    const QRegularExpression pattern(
        QStringLiteral("^%1[0-9a-f]{8}(-wal|-shm|-journal)?$")
            .arg(QRegularExpression::escape(scratchPrefix(target, kind))));
    QStringList removed;
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        const QString main = folder.filePath(name.left(name.size() - match.capturedLength(1)));
        const int fd = ::open(QFile::encodeName(main).constData(), O_RDWR | O_CLOEXEC);
        // Without its main file a -wal or -shm has no writer; with it, the mark tells.
        const bool gone = fd < 0 ? errno == ENOENT : lockWriterByte(fd);
        if (fd >= 0)
            ::close(fd);
        if (gone && QFile::remove(folder.filePath(name)))
            removed << name;
    }
    return removed;
}

} // namespace Files
