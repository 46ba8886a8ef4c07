#include "engines/sqlite/ScratchDatabase.h"

#include "platform/Error.h"

#include <QFileInfo>

#include <cerrno>

ScratchDatabase::ScratchDatabase(const QString &target, const QString &kind)
    : m_target(target), m_removed(Files::removeLeftovers(target, kind))
{
    for (int attempt = 0;; ++attempt) {
        m_path = Files::scratchName(target, kind);
        try {
            m_db = std::make_unique<SqliteConnection>(m_path, SqliteConnection::Mode::CreateNew);
            break;
        } catch (const Error &) {
            // Only a name taken by another file is worth another try.
            if (attempt > 10 || !QFileInfo::exists(m_path))
                throw;
        }
    }
    m_mark.emplace(m_path);
}

ScratchDatabase::~ScratchDatabase()
{
    m_db.reset();
    m_mark.reset();
    if (!m_published)
        Files::removeDatabase(m_path);
}

Error ScratchDatabase::failed(const QString &why) const
{
    return Error(
        QStringLiteral("Не удается записать «%1»: %2").arg(Files::shownPath(m_target), why));
}

void ScratchDatabase::closeWhole()
{
    try {
        m_db->checkpoint();
        m_db.reset();
        Files::syncToDisk(m_path);
    } catch (const Error &e) {
        throw failed(e.message());
    }
    if (QFileInfo(m_path + QStringLiteral("-wal")).size() > 0)
        throw failed(QStringLiteral("журнал базы данных не перенесён в файл"));
}

void ScratchDatabase::publish()
{
    closeWhole();
    if (!Files::renameNoReplace(m_path, m_target)) {
        throw failed(errno == EEXIST ? QStringLiteral("файл уже существует")
                                     : Files::systemReason(errno));
    }
    m_published = true;
}
