#pragma once

#include <QString>

// Whether a file lies on a file system that reaches another computer (NFS, SMB/CIFS and the other
// network kinds the kernel reports, and the FUSE mounts that do the same, such as sshfs and the
// desktop's gvfs shares). Gives the file system's kind ("nfs", "cifs", "fuse.sshfs", ...), or an
// empty text for a local one.
QString networkFileSystem(const QString &path);

// The folder whose file system holds a file's data and the files SQLite keeps beside it: the
// folder of the link's target when the file is a symbolic link.
QString dataFolder(const QString &path);

// The same decision from its parts, for tests: the kernel's magic number of the file system that
// holds `canonicalPath`, and the text of /proc/self/mountinfo.
QString networkFileSystem(quint64 magic, const QString &canonicalPath, const QString &mountInfo);
