#include "JetSource.h"

#include "JetReader.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace JetImport {

namespace {

// The reader's limits: a damaged file must not make it spin or grow for ever.
constexpr int baseCpuSeconds = 10;
constexpr int cpuSecondsPerMegabyte = 2;
constexpr rlim_t memoryLimit = rlim_t(2) << 30;

int runChild(const Options &options, qint64 fileSize, int fd)
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGPIPE, SIG_IGN); // a vanished importer shows as a failed write
    const rlim_t seconds =
        rlim_t(baseCpuSeconds) + rlim_t(fileSize >> 20) * rlim_t(cpuSecondsPerMegabyte);
    const rlimit cpu{seconds, seconds + 1};
    ::setrlimit(RLIMIT_CPU, &cpu);
#if !defined(__SANITIZE_ADDRESS__)
    // The address sanitizer reserves far more address space than this for itself.
    const rlimit memory{memoryLimit, memoryLimit};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    if (!options.verbose) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDERR_FILENO);
    }
    return JetReader::sendDatabase(options.source, options.codepage, options.skipUnsupported, fd);
}

} // namespace

// What can be checked before libmdb sees the file: a readable regular file with an Access header
// and a whole number of pages. Gives its size.
qint64 checkSource(const QString &path)
{
    const QFileInfo info(path);
    // A folder on the way that cannot be entered hides the file: that is not "not found".
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 && errno != ENOENT &&
        errno != ENOTDIR) {
        throw Error(QStringLiteral("Файл «%1» не читается: %2")
                        .arg(Files::shownPath(path), QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!info.exists() && !info.isSymLink())
        throw Error(QStringLiteral("Файл «%1» не найден").arg(Files::shownPath(path)));
    if (info.isSymLink() && ::stat(QFile::encodeName(path).constData(), &status) != 0) {
        if (errno == ELOOP)
            throw Error(QStringLiteral("«%1» — ссылка, которая ведёт по кругу (на саму себя)")
                            .arg(Files::shownPath(path)));
        throw Error(QStringLiteral("«%1» — ссылка на «%2», а такого файла нет")
                        .arg(Files::shownPath(path), info.symLinkTarget()));
    }
    if (info.isDir())
        throw Error(
            QStringLiteral("«%1» — папка, а не файл базы данных").arg(Files::shownPath(path)));
    if (!info.isFile()) {
        throw Error(QStringLiteral("«%1» — не обычный файл (канал, устройство или сокет)")
                        .arg(Files::shownPath(path)));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Файл «%1» не читается: %2")
                        .arg(Files::shownPath(path), file.errorString()));
    if (file.size() == 0)
        throw Error(QStringLiteral("Файл «%1» пуст").arg(Files::shownPath(path)));
    const QByteArray head = file.read(0x20);
    if (!isJetDatabaseFile(path))
        throw Error(
            QStringLiteral("Файл «%1» — не база данных Access").arg(Files::shownPath(path)));
    // Byte 0x14 is the Jet version: 0 for Jet 3 with pages of 2048 bytes, 4096 otherwise. A file
    // cut short (a broken copy) is not a whole number of pages.
    const qint64 pageSize = head.size() > 0x14 && head[0x14] == 0 ? 2048 : 4096;
    if (file.size() % pageSize != 0 || file.size() < 2 * pageSize)
        throw Error(QStringLiteral("Файл «%1» повреждён или обрезан").arg(Files::shownPath(path)));
    return file.size();
}

Reader::Reader(const Options &options, qint64 fileSize)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw Error(QStringLiteral("Не удается запустить чтение файла: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    m_pid = ::fork();
    if (m_pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw Error(QStringLiteral("Не удается запустить чтение файла: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (m_pid == 0) {
        ::close(fds[0]);
        ::_exit(runChild(options, fileSize, fds[1]));
    }
    ::close(fds[1]);
    m_fd = fds[0];
}

Reader::~Reader()
{
    stop();
    if (m_fd >= 0)
        ::close(m_fd);
}

int Reader::wait()
{
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return status;
}

void Reader::stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        wait();
    }
}

} // namespace JetImport
