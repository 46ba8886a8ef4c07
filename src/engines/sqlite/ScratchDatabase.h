#pragma once

#include "platform/Files.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// A new database written beside `target` under a scratch name of its own, which takes the
// target's name only when whole: nobody ever opens half of it under that name. The leftovers of
// killed runs of the same kind are removed first. Destroyed unpublished, its files are removed.
class ScratchDatabase
{
public:
    ScratchDatabase(const QString &target, const QString &kind);
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase &) = delete;
    ScratchDatabase &operator=(const ScratchDatabase &) = delete;

    SqliteConnection &db() { return *m_db; }
    const QString &path() const { return m_path; }
    // The names of the earlier runs' leftovers removed.
    const QStringList &removedLeftovers() const { return m_removed; }

    // Closes the database once it is whole on the disk: its log written back into the file (where
    // a full disk fails loudly; left to the close it would fail in silence and the file go out
    // without its data) and the file synced. Throws Error naming the target.
    void closeWhole();
    // closeWhole(), then the target's name, which must be free. Throws Error naming the target.
    void publish();
    // The caller moved the closed file into place itself: nothing is left to remove.
    void released() { m_published = true; }

private:
    Error failed(const QString &why) const;

    QString m_target;
    QString m_path;
    QStringList m_removed;
    std::unique_ptr<SqliteConnection> m_db;
    // Made after the file, closed after the connection.
    std::optional<Files::WriterMark> m_mark;
    bool m_published = false;
};
