#include "Filesystems.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

#include <sys/statvfs.h>
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
        QFile::setPermissions(files.next(),
                              writable ? read | QFile::WriteOwner | QFile::WriteUser : read);
    QFile::setPermissions(
        folder, read | QFile::ExeOwner | QFile::ExeUser |
                    (writable ? QFile::WriteOwner | QFile::WriteUser : QFile::Permissions()));
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
    m_why =
        runCommand(QStringLiteral("mount"),
                   {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                    QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"), m_path});
    m_ok = m_why.isEmpty();
}

SmallDisk::~SmallDisk()
{
    if (m_ok)
        runCommand(QStringLiteral("umount"), {m_path});
}

void SmallDisk::fill(int keepKilobytes) const
{
    QFile filler(m_path + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return;
    const auto freeBytes = [this] {
        struct statvfs disk
        {
        };
        return ::statvfs(QFile::encodeName(m_path).constData(), &disk) == 0
                   ? qint64(disk.f_bavail) * qint64(disk.f_frsize)
                   : 0;
    };
    const qint64 keep = qint64(keepKilobytes) * 1024;
    const QByteArray block(4096, 'f');
    while (freeBytes() >= keep + block.size() && filler.write(block) == block.size() &&
           filler.flush()) {
    }
    // The last partial block: byte by byte until nothing more fits.
    while (keep == 0 && filler.write("f", 1) == 1 && filler.flush()) {
    }
}

SshfsMount::SshfsMount(const QString &folder, const QString &mountPoint) : m_mountPoint(mountPoint)
{
    const QString sshd = QStringLiteral("/usr/sbin/sshd");
    if (::geteuid() != 0)
        m_why = QStringLiteral("the ssh server of the test needs root");
    else if (!QFile::exists(QStringLiteral("/dev/fuse")))
        m_why = QStringLiteral("no /dev/fuse");
    else if (!QFile::exists(sshd) ||
             QStandardPaths::findExecutable(QStringLiteral("sshfs")).isEmpty())
        m_why = QStringLiteral("sshd or sshfs is not installed");
    if (!m_why.isEmpty())
        return;

    m_work = mountPoint + QStringLiteral("-ssh");
    QDir().mkpath(m_work);
    QDir().mkpath(mountPoint);
    QDir().mkpath(QStringLiteral("/run/sshd")); // the server's privilege separation folder
    for (const char *key : {"host", "user"}) {
        m_why = runCommand(QStringLiteral("ssh-keygen"),
                           {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                            QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                            m_work + QLatin1Char('/') + QLatin1String(key)});
        if (!m_why.isEmpty())
            return;
    }
    QFile::copy(m_work + QStringLiteral("/user.pub"), m_work + QStringLiteral("/authorized_keys"));

    // A port of its own: another test's server may hold one.
    for (int attempt = 0; attempt < 5 && !m_ok; ++attempt) {
        const int port = 20000 + int((::getpid() * 7 + attempt * 1009) % 20000);
        QFile config(m_work + QStringLiteral("/sshd_config"));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host\n"
                                    "AuthorizedKeysFile %2/authorized_keys\nPidFile %2/sshd.pid\n"
                                    "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                    "PermitRootLogin yes\nStrictModes no\nUsePAM no\n"
                                    "Subsystem sftp internal-sftp\n")
                         .arg(port)
                         .arg(m_work)
                         .toUtf8());
        config.close();
        if (!QProcess::startDetached(
                sshd, {QStringLiteral("-D"), QStringLiteral("-f"), config.fileName()}, QString(),
                &m_server)) {
            m_why = QStringLiteral("sshd did not start");
            return;
        }
        // The server takes a moment to listen; sshfs returns once the folder is mounted.
        for (int wait = 0; wait < 20 && !m_ok; ++wait) {
            QThread::msleep(100);
            m_why = runCommand(QStringLiteral("sshfs"),
                               {QStringLiteral("-p"), QString::number(port), QStringLiteral("-o"),
                                QStringLiteral("IdentityFile=%1/user,StrictHostKeyChecking=no,"
                                               "UserKnownHostsFile=/dev/null,BatchMode=yes")
                                    .arg(m_work),
                                QStringLiteral("root@127.0.0.1:") + QDir(folder).absolutePath(),
                                mountPoint});
            m_ok = m_why.isEmpty();
        }
        if (!m_ok) {
            ::kill(pid_t(m_server), SIGTERM);
            m_server = 0;
        }
    }
}

SshfsMount::~SshfsMount()
{
    if (m_ok)
        runCommand(QStringLiteral("fusermount3"), {QStringLiteral("-u"), m_mountPoint});
    if (m_server > 0)
        ::kill(pid_t(m_server), SIGTERM);
    if (!m_work.isEmpty())
        QDir(m_work).removeRecursively();
    QDir().rmdir(m_mountPoint);
}
