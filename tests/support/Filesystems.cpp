#include "Filesystems.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <unistd.h>

namespace {

// Runs a system command; gives its error output, empty on success.
QString runCommand(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return program + QStringLiteral(" did not finish");
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString err = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return err.isEmpty() ? program + QStringLiteral(" failed") : err;
    }
    return QString();
}

void setWritable(const QString &folder, bool writable)
{
    const QFile::Permissions read = QFile::ReadOwner | QFile::ReadUser;
    QDirIterator files(folder, QDir::Files);
    while (files.hasNext())
        QFile::setPermissions(files.next(), writable ? read | QFile::WriteOwner | QFile::WriteUser : read);
    QFile::setPermissions(folder, read | QFile::ExeOwner | QFile::ExeUser |
                                      (writable ? QFile::WriteOwner | QFile::WriteUser
                                                : QFile::Permissions()));
}

} // namespace

ReadOnlyView::ReadOnlyView(const QString &folder) : m_folder(folder)
{
    if (::geteuid() != 0) {
        setWritable(folder, false);
        m_path = folder;
        m_ok = true;
        return;
    }
    m_path = folder + QStringLiteral("-read-only");
    QDir().mkpath(m_path);
    m_why = runCommand(QStringLiteral("mount"), {QStringLiteral("--bind"), folder, m_path});
    if (!m_why.isEmpty())
        return;
    m_mounted = true;
    m_why = runCommand(QStringLiteral("mount"),
                       {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), m_path});
    m_ok = m_why.isEmpty();
}

ReadOnlyView::~ReadOnlyView()
{
    if (::geteuid() != 0) {
        setWritable(m_folder, true);
        return;
    }
    if (m_mounted)
        runCommand(QStringLiteral("umount"), {m_path});
    QDir().rmdir(m_path);
}

SmallDisk::SmallDisk(const QString &mountPoint, int kilobytes) : m_path(mountPoint)
{
    if (::geteuid() != 0) {
        m_why = QStringLiteral("mounting a small file system needs root");
        return;
    }
    QDir().mkpath(m_path);
    m_why = runCommand(QStringLiteral("mount"),
                       {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                        QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"), m_path});
    m_ok = m_why.isEmpty();
}

SmallDisk::~SmallDisk()
{
    if (m_ok)
        runCommand(QStringLiteral("umount"), {m_path});
}

void SmallDisk::fill() const
{
    QFile filler(m_path + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    // The last partial block: byte by byte until nothing more fits.
    while (filler.write("f", 1) == 1 && filler.flush()) {
    }
}
