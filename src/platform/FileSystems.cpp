#include "FileSystems.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/vfs.h>

#include <array>

namespace {

struct Kind
{
    quint64 magic;
    const char *name;
};

// The network file systems by the magic numbers statfs reports (linux/magic.h and the file
// systems' own sources).
constexpr std::array<Kind, 12> networkKinds = {{
    {0x6969, "nfs"},
    {0x517B, "smb"},
    {0xFF534D42, "cifs"},
    {0xFE534D42, "smb2"},
    {0x73757245, "coda"},
    {0x5346414F, "afs"},
    {0x6B414653, "afs"},
    {0x564C, "ncp"},
    {0x00C36400, "ceph"},
    {0x0BD00BD0, "lustre"},
    {0x47504653, "gpfs"},
    {0x01021997, "9p"}, // a virtual machine's shared folder
}};

constexpr quint64 fuseMagic = 0x65735546;

// FUSE file systems that keep their files on another computer.
bool remoteFuse(const QString &type)
{
    static const QStringList remote = {
        QStringLiteral("fuse.sshfs"),     QStringLiteral("fuse.gvfsd-fuse"),
        QStringLiteral("fuse.smbnetfs"),  QStringLiteral("fuse.rclone"),
        QStringLiteral("fuse.s3fs"),      QStringLiteral("fuse.curlftpfs"),
        QStringLiteral("fuse.davfs"),     QStringLiteral("fuse.glusterfs"),
        QStringLiteral("fuse.ceph-fuse"), QStringLiteral("fuse.cifs"),
        QStringLiteral("fuse.nfs"),       QStringLiteral("fuse.fuse-nfs"),
        // A mount that names no serving program may be any of them: taken as remote.
        QStringLiteral("fuse"),
    };
    return remote.contains(type);
}

// Undoes the octal escapes mountinfo writes for blanks, tabs, newlines and backslashes.
QString unescape(const QString &field)
{
    QString out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == QLatin1Char('\\') && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// The type of the mount that holds `path`: the mount point that is the longest leading part of it.
QString mountType(const QString &path, const QString &mountInfo)
{
    QString type;
    qsizetype longest = -1;
    for (const QString &line : mountInfo.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char(' '));
        const qsizetype separator = fields.indexOf(QStringLiteral("-"));
        if (fields.size() < 5 || separator < 0 || separator + 1 >= fields.size())
            continue;
        const QString point = unescape(fields[4]);
        const bool holds =
            path == point ||
            path.startsWith(point.endsWith(QLatin1Char('/')) ? point : point + QLatin1Char('/'));
        // A later mount on the same point hides the earlier one.
        if (holds && point.size() >= longest) {
            longest = point.size();
            type = fields[separator + 1];
        }
    }
    return type;
}

} // namespace

QString networkFileSystem(quint64 magic, const QString &canonicalPath, const QString &mountInfo)
{
    for (const Kind &kind : networkKinds) {
        if (kind.magic == magic)
            return QString::fromLatin1(kind.name);
    }
    if (magic != fuseMagic)
        return {};
    // statfs calls every FUSE mount FUSE; the mount table tells which program serves it.
    const QString type = mountType(canonicalPath, mountInfo);
    return remoteFuse(type) ? type : QString();
}

QString dataFolder(const QString &path)
{
    // SQLite follows a link to its target and keeps its log and journal beside the target.
    const QString target = QFileInfo(path).canonicalFilePath();
    return QFileInfo(target.isEmpty() ? path : target).absolutePath();
}

QString networkFileSystem(const QString &path)
{
    // The folder decides: the file itself may not exist yet.
    const QString folder = dataFolder(path);
    struct statfs status = {};
    if (::statfs(QFile::encodeName(folder).constData(), &status) != 0)
        return {};
    const auto magic = static_cast<quint64>(static_cast<quint32>(status.f_type));
    if (magic != fuseMagic)
        return networkFileSystem(magic, QString(), QString());
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {};
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return networkFileSystem(magic, canonical, QString::fromUtf8(mounts.readAll()));
}
