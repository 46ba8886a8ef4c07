#include "JetImport.h"

#include "register/RegisterSchema.h"
#include "platform/Files.h"
#include "engines/sqlite/ScratchDatabase.h"
#include "engines/sqlite/SqliteEngine.h"
#include "register/RegisterFile.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "ImportStream.h"
#include "JetReader.h"
#include "JetSource.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace JetImport {

namespace {

// The one message of an import its caller stopped.
Error interrupted()
{
    return Error(QStringLiteral("Импорт прерван"));
}

bool stopRequested(const Options &options)
{
    return options.stopRequested && options.stopRequested();
}

struct PlannedTable
{
    QString name;
    QStringList columns;
    QStringList declarations;
};

// Only the declarations the reader makes are accepted into the SQL text.
bool isKnownDeclaration(const QString &declaration)
{
    static const QRegularExpression known(QStringLiteral(
        "^(VARCHAR\\(\\d{1,5}\\)|TEXT|INTEGER PRIMARY KEY AUTOINCREMENT|INTEGER|SMALLINT|TINYINT|"
        "REAL|DOUBLE|DATETIME|CURRENCY TEXT\\(19,4\\)|DECIMAL TEXT\\(\\d{1,2},\\d{1,2}\\)|BLOB)$"));
    return known.match(declaration).hasMatch();
}

// Writes what the reader sends into the new database, one method per kind of frame, checking
// each against what came before: the reader's process may have been led astray by a damaged
// file, and nothing it sends is trusted.
class ImportWriter
{
public:
    ImportWriter(SqliteConnection &db, const QString &source, const Options &options,
                 const Progress &progress)
        : m_db(db), m_file(Files::shownPath(source)), m_options(options), m_progress(progress)
    {}

    void receive(ImportStream::Kind kind, ImportStream::Reader &in)
    {
        using ImportStream::Kind;
        switch (kind) {
        case Kind::Next:
            m_current = in.text();
            return;
        case Kind::Table:
            return table(in);
        case Kind::Skipped:
            return skipped(in);
        case Kind::Planned:
            return planned();
        case Kind::Begin:
            return begin(in);
        case Kind::Row:
            return row(in);
        case Kind::End:
            return end();
        case Kind::Failure:
            throw Error(QStringLiteral("Файл «%1»: %2").arg(m_file, in.text()));
        }
        throw damaged(QStringLiteral("поток данных чтения повреждён"));
    }

    // After the reader ended by itself with `status`: everything sent and whole, or why not.
    void finish(int status)
    {
        const QString where = m_current.isEmpty() ? QStringLiteral("списка таблиц")
                                                  : QStringLiteral("таблицы «%1»").arg(m_current);
        if (WIFSIGNALED(status)) {
            const int signal = WTERMSIG(status);
            if (signal == SIGXCPU || signal == SIGKILL)
                throw damaged(QStringLiteral("чтение %1 не заканчивается").arg(where));
            throw damaged(
                QStringLiteral("чтение %1 прервалось (сигнал %2)").arg(where).arg(signal));
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !m_planned ||
            (!m_finished && !m_plans.empty()))
            throw damaged(QStringLiteral("чтение %1 оборвалось").arg(where));
        if (m_transaction)
            m_transaction->commit();
    }

    const QList<TableSummary> &summary() const { return m_summary; }

private:
    Error damaged(const QString &what) const
    {
        return Error(QStringLiteral("Файл «%1» повреждён: %2").arg(m_file, what));
    }

    void table(ImportStream::Reader &in)
    {
        if (m_planned)
            throw damaged(QStringLiteral("неожиданное описание таблицы"));
        PlannedTable plan;
        plan.name = in.text();
        const qint64 count = in.number();
        if (count <= 0 || count > 255)
            throw damaged(QStringLiteral("таблица «%1»: %2 столбцов").arg(plan.name).arg(count));
        for (qint64 i = 0; i < count; ++i) {
            plan.columns << in.text();
            plan.declarations << in.text();
            if (!isKnownDeclaration(plan.declarations.last()))
                throw damaged(
                    QStringLiteral("таблица «%1»: неизвестный тип столбца").arg(plan.name));
        }
        m_plans.push_back(std::move(plan));
    }

    // A column the reader could not read and left out, as asked: the user is told of each.
    void skipped(ImportStream::Reader &in)
    {
        const QString table = in.text();
        const QString column = in.text();
        const QString type = in.text();
        if (m_options.notice) {
            m_options.notice(QStringLiteral("Не перенесён столбец «%1» таблицы «%2» (тип %3)")
                                 .arg(column, table, type));
        }
    }

    void planned()
    {
        m_planned = true;
        // The register itself must be there, whatever else the file holds.
        for (const RegisterSchema::Table &required : RegisterSchema::tables()) {
            const bool found = std::any_of(m_plans.begin(), m_plans.end(), [&](const auto &p) {
                return p.name == required.qName();
            });
            if (!found) {
                throw Error(QStringLiteral("В файле «%1» нет таблицы %2: файл повреждён, "
                                           "обрезан или это не база реестра")
                                .arg(m_file, required.qName()));
            }
        }
        m_transaction.emplace(m_db);
        for (const PlannedTable &plan : m_plans) {
            QStringList columns;
            for (qsizetype i = 0; i < plan.columns.size(); ++i)
                columns << quoteIdentifier(plan.columns[i]) + QLatin1Char(' ') +
                               plan.declarations[i];
            m_db.exec(QStringLiteral("CREATE TABLE %1 (%2)")
                          .arg(quoteIdentifier(plan.name), columns.join(QStringLiteral(", "))));
        }
    }

    void begin(ImportStream::Reader &in)
    {
        const qint64 number = in.number();
        if (!m_planned || m_insert || number != m_table + 1 ||
            number >= static_cast<qint64>(m_plans.size()))
            throw damaged(QStringLiteral("таблицы идут не по порядку"));
        m_table = static_cast<int>(number);
        m_expected = in.number();
        m_rows = 0;
        const PlannedTable &plan = current();
        QStringList names;
        QStringList marks;
        for (const QString &column : plan.columns) {
            names << quoteIdentifier(column);
            marks << QStringLiteral("?");
        }
        m_insert.emplace(
            m_db.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                             .arg(quoteIdentifier(plan.name), names.join(QStringLiteral(", ")),
                                  marks.join(QStringLiteral(", ")))));
    }

    void row(ImportStream::Reader &in)
    {
        if (!m_insert)
            throw damaged(QStringLiteral("строка вне таблицы"));
        const PlannedTable &plan = current();
        for (qsizetype i = 0; i < plan.columns.size(); ++i) {
            const ImportStream::Cell cell = in.cell();
            if (cell.bytes)
                m_insert->bindBlob(static_cast<int>(i) + 1, *cell.bytes);
            else
                m_insert->bind(static_cast<int>(i) + 1, cell.value);
        }
        if (!in.atEnd())
            throw damaged(QStringLiteral("таблица «%1»: лишние значения в строке").arg(plan.name));
        m_insert->run();
        ++m_rows;
        if (m_progress && m_rows % 1000 == 0)
            m_progress(plan.name, m_rows, m_expected);
    }

    void end()
    {
        if (!m_insert)
            throw damaged(QStringLiteral("конец таблицы вне таблицы"));
        const PlannedTable &plan = current();
        m_insert.reset();
        if (m_progress)
            m_progress(plan.name, m_rows, m_expected);
        // A short read means a damaged or cut file: better nothing than part of the register.
        if (m_rows != m_expected) {
            throw Error(QStringLiteral("Таблица «%1»: прочитано строк: %2 из %3 — файл «%4» "
                                       "повреждён или обрезан")
                            .arg(plan.name)
                            .arg(m_rows)
                            .arg(m_expected)
                            .arg(m_file));
        }
        SqliteStatement count =
            m_db.prepare(QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(plan.name)));
        count.step();
        if (count.columnInt64(0) != m_rows)
            throw Error(QStringLiteral("Таблица «%1»: записано не всё").arg(plan.name));
        m_summary.append({plan.name, m_rows});
        m_finished = m_table + 1 == static_cast<int>(m_plans.size());
    }

    const PlannedTable &current() const { return m_plans[static_cast<size_t>(m_table)]; }

    SqliteConnection &m_db;
    const QString m_file;
    const Options &m_options;
    const Progress &m_progress;
    std::vector<PlannedTable> m_plans;
    QList<TableSummary> m_summary;
    QString m_current; // the table the reader is on
    bool m_planned = false;
    std::optional<Transaction> m_transaction; // from the plan on: the copy is all or nothing
    int m_table = -1;                         // the table whose rows are arriving
    qint64 m_expected = 0;
    qint64 m_rows = 0;
    std::optional<SqliteStatement> m_insert;
    bool m_finished = false;
};

// Feeds what the reader sends to the writer until the reader is done; gives the tables copied.
// Throws Error naming the file (and the table) when the stream or the reader fails.
QList<TableSummary> receive(Reader &reader, SqliteConnection &db, const Options &options,
                            const Progress &progress)
{
    ImportWriter writer(db, options.source, options, progress);
    try {
        ImportStream::Kind kind;
        QByteArray payload;
        while (ImportStream::readFrame(reader.fd(), kind, payload)) {
            if (stopRequested(options))
                throw interrupted();
            ImportStream::Reader in(payload);
            writer.receive(kind, in);
        }
    } catch (const Error &) {
        if (stopRequested(options))
            throw interrupted();
        // A reader that crashed mid-frame explains the broken stream better than the stream.
        reader.stop();
        throw;
    }
    const int status = reader.wait();
    if (stopRequested(options))
        throw interrupted();
    writer.finish(status);
    return writer.summary();
}

} // namespace

QString keptName(const QString &path)
{
    const QFileInfo info(path);
    const QString base = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 1;; ++n) {
        const QString name = base + QStringLiteral(".access") +
                             (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + suffix;
        const QString candidate = info.dir().filePath(name);
        // A killed conversion may have left the old file's second name: it is taken again.
        if ((!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink()) ||
            Files::sameFile(candidate, path))
            return candidate;
    }
}

namespace {

// Neither the target nor the name the old file is to be kept under may exist, but for a second
// name of the old file itself, which a conversion killed before its rename left: it goes.
void checkTargets(const Options &options)
{
    if (!options.keepOldAs.isEmpty() && Files::sameFile(options.keepOldAs, options.target))
        QFile::remove(options.keepOldAs);
    const QFileInfo target(options.target);
    if (options.keepOldAs.isEmpty()) {
        if (target.exists() || target.isSymLink())
            throw Error(
                QStringLiteral("Файл «%1» уже существует").arg(Files::shownPath(options.target)));
    } else if (QFileInfo::exists(options.keepOldAs)) {
        throw Error(
            QStringLiteral("Файл «%1» уже существует").arg(Files::shownPath(options.keepOldAs)));
    }
}

// How far moving into place got, so a failure knows what to undo.
enum class OldFile { Untouched, Linked, Moved };

// The finished copy takes the target's name. An old file to be kept first gets its second name
// as a hard link, and the copy then replaces the target in one rename: at every moment the target
// is the old file or the whole new one. Where the file system has no hard links the old file is
// moved aside first, as the only way left, and the user is told. Nothing else is replaced.
void moveIntoPlace(const QString &temporary, const Options &options, OldFile &old)
{
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(options.target);
    if (options.keepOldAs.isEmpty()) {
        if (!Files::renameNoReplace(temporary, options.target)) {
            const QString reason = errno == EEXIST ? QStringLiteral("файл уже существует")
                                                   : QString::fromLocal8Bit(std::strerror(errno));
            throw Error(QStringLiteral("Не удается записать «%1»: %2")
                            .arg(Files::shownPath(options.target), reason));
        }
        return;
    }
    const QByteArray kept = QFile::encodeName(options.keepOldAs);
    if (::link(to.constData(), kept.constData()) == 0) {
        old = OldFile::Linked;
    } else if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) {
        if (options.notice) {
            options.notice(QStringLiteral("Файловая система не поддерживает жёсткие ссылки: «%1» "
                                          "сначала переименовывается")
                               .arg(Files::shownPath(options.target)));
        }
        if (!Files::renameNoReplace(options.target, options.keepOldAs))
            old = OldFile::Untouched;
        else
            old = OldFile::Moved;
    }
    if (old == OldFile::Untouched) {
        throw Error(QStringLiteral("Не удается переименовать «%1» в «%2»: %3")
                        .arg(Files::shownPath(options.target), Files::shownPath(options.keepOldAs),
                             QString::fromLocal8Bit(std::strerror(errno))));
    }
    const bool moved = old == OldFile::Linked ? ::rename(from.constData(), to.constData()) == 0
                                              : Files::renameNoReplace(temporary, options.target);
    if (!moved) {
        throw Error(QStringLiteral("Не удается записать «%1»: %2")
                        .arg(Files::shownPath(options.target),
                             QString::fromLocal8Bit(std::strerror(errno))));
    }
}

} // namespace

QList<TableSummary> importDatabase(const Options &options, const Progress &progress)
{
    const qint64 size = checkSource(options.source);
    checkTargets(options);

    ScratchDatabase scratch(options.target, QStringLiteral("import"));
    if (!scratch.removedLeftovers().isEmpty() && options.notice) {
        options.notice(QStringLiteral("Удалены остатки прерванного импорта: %1")
                           .arg(scratch.removedLeftovers().join(QStringLiteral(", "))));
    }
    QList<TableSummary> summary;
    OldFile old = OldFile::Untouched;
    try {
        if (stopRequested(options))
            throw interrupted();
        Reader reader(options, size);
        summary = receive(reader, scratch.db(), options, progress);
        RegisterFile::addLiveRegister(scratch.db());
        scratch.closeWhole();
        moveIntoPlace(scratch.path(), options, old);
        scratch.released();
    } catch (...) {
        if (old == OldFile::Linked)
            QFile::remove(options.keepOldAs); // the target is still the old file
        else if (old == OldFile::Moved)
            Files::renameNoReplace(options.keepOldAs, options.target);
        throw;
    }
    return summary;
}

} // namespace JetImport
