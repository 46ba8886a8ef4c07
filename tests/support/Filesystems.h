#pragma once

#include <QString>

// A read-only view of a folder. For an ordinary user the folder and its files lose their write
// permission; root, whom permissions do not stop, gets a read-only bind mount of the folder.
// ok() is false (with the reason in why()) where neither can be done here.
class ReadOnlyView
{
public:
    explicit ReadOnlyView(const QString &folder);
    ~ReadOnlyView();
    ReadOnlyView(const ReadOnlyView &) = delete;
    ReadOnlyView &operator=(const ReadOnlyView &) = delete;

    bool ok() const { return m_ok; }
    const QString &why() const { return m_why; }
    // Where the folder is seen read-only.
    const QString &path() const { return m_path; }

private:
    QString m_folder;
    QString m_path;
    QString m_why;
    bool m_ok = false;
    bool m_mounted = false;
};

// A small file system of its own (tmpfs), to be filled up; root only.
class SmallDisk
{
public:
    SmallDisk(const QString &mountPoint, int kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool ok() const { return m_ok; }
    const QString &why() const { return m_why; }
    // Writes a file that takes up every free byte but `keepKilobytes`.
    void fill(int keepKilobytes = 0) const;

private:
    QString m_path;
    QString m_why;
    bool m_ok = false;
};

// A folder of this computer seen through sshfs, as an office's share would be: an ssh server of
// its own on 127.0.0.1 with keys made for it, and the folder mounted over it; both go with the
// object. Needs root (the server), /dev/fuse, sshd and sshfs; ok() is false, with the reason in
// why(), where any is missing.
class SshfsMount
{
public:
    SshfsMount(const QString &folder, const QString &mountPoint);
    ~SshfsMount();
    SshfsMount(const SshfsMount &) = delete;
    SshfsMount &operator=(const SshfsMount &) = delete;

    bool ok() const { return m_ok; }
    const QString &why() const { return m_why; }

private:
    QString m_work;
    QString m_mountPoint;
    QString m_why;
    qint64 m_server = 0;
    bool m_ok = false;
};
