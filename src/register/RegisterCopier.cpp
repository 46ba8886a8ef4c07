#include "RegisterCopier.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "engines/sqlite/ScratchDatabase.h"
#include "engines/sqlite/SqliteEngine.h"
#include "register/RegisterFile.h"

#include <QFileInfo>

#include <map>
#include <optional>

namespace RegisterCopier {

namespace {

using RegisterSchema::Table;

// Where each of the schema's columns is among the source's.
std::vector<int> placesOf(const Table &table, const RowSource &rows, const QString &where)
{
    std::vector<int> places;
    for (const RegisterSchema::Column &column : table.columns) {
        const auto &columns = rows.columns();
        const auto found = std::find_if(columns.begin(), columns.end(), [&](const auto &c) {
            return c.name.compare(column.qName(), Qt::CaseInsensitive) == 0;
        });
        if (found == columns.end()) {
            throw Error(QStringLiteral("В таблице %1 реестра (%2) нет столбца %3")
                            .arg(table.qName(), where, column.qName()));
        }
        places.push_back(int(found - columns.begin()));
    }
    return places;
}

qint64 countOf(Engine &source, const Table &table)
{
    qint64 count = 0;
    source.query(QStringLiteral("SELECT count(*) FROM %1").arg(table.qName()))
        ->readAll([&](const RowCells &row, const RowId &) { count = row.integer(0); });
    return count;
}

class FileTarget final : public Target
{
public:
    explicit FileTarget(const QString &path) : m_path(path)
    {
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            throw Error(QStringLiteral("Файл «%1» уже существует").arg(where()));
        m_scratch.emplace(path, QStringLiteral("copy"));
        m_scratch->db().beginTransaction();
        RegisterFile::createTables(m_scratch->db());
    }
    ~FileTarget() override { m_inserts.clear(); }

    QString where() const override { return Files::shownPath(m_path); }
    void append(const Table &table, const std::vector<Value> &row) override
    {
        auto prepared = m_inserts.find(table.name);
        if (prepared == m_inserts.end()) {
            QStringList marks;
            for (size_t i = 0; i < table.columns.size(); ++i)
                marks << QStringLiteral("?");
            prepared =
                m_inserts
                    .emplace(table.name, m_scratch->db().prepare(
                                             QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                 .arg(table.qName(), table.columnList(),
                                                      marks.join(QStringLiteral(", ")))))
                    .first;
        }
        SqliteStatement &statement = prepared->second;
        for (size_t i = 0; i < row.size(); ++i)
            statement.bind(int(i) + 1, row[i]);
        statement.run();
    }
    qint64 count(const Table &table) override
    {
        SqliteStatement counted =
            m_scratch->db().prepare(QStringLiteral("SELECT count(*) FROM %1").arg(table.qName()));
        counted.step();
        return counted.columnInt64(0);
    }
    void finish() override
    {
        m_inserts.clear();
        RegisterFile::addLiveRegister(m_scratch->db());
        m_scratch->db().commitTransaction();
        m_scratch->publish();
    }

private:
    QString m_path;
    std::optional<ScratchDatabase> m_scratch;
    std::map<const char *, SqliteStatement> m_inserts;
};

} // namespace

QList<TableCount> copy(Engine &source, Target &target, const Progress &progress,
                       const StopRequested &stop)
{
    const auto stopIfAsked = [&] {
        if (stop && stop())
            throw Error(QStringLiteral("Копирование прервано"));
    };
    // Every table as of one moment: a person another computer adds meanwhile is in all of the
    // copy or in none of it.
    source.beginSnapshot();
    const struct EndSnapshot
    {
        Engine &source;
        ~EndSnapshot()
        {
            try {
                source.rollbackTransaction(); // it only read
            } catch (const Error &) {
            }
        }
    } endSnapshot{source};

    QList<TableCount> counts;
    for (const Table &table : RegisterSchema::tables()) {
        const QString name = table.qName();
        const qint64 total = countOf(source, table);
        const std::unique_ptr<RowSource> rows = source.table(name);
        const std::vector<int> places = placesOf(table, *rows, source.where());
        std::vector<Value> values(places.size());
        qint64 done = 0;
        rows->readAll([&](const RowCells &row, const RowId &) {
            stopIfAsked();
            for (size_t i = 0; i < places.size(); ++i)
                values[i] = cellValue(row, places[i]);
            target.append(table, values);
            if (++done % 1000 == 0 && progress)
                progress(name, done, total);
        });
        if (progress)
            progress(name, done, total);
        if (done != total) {
            throw Error(QStringLiteral("Таблица %1: строк %2, прочитано %3")
                            .arg(name)
                            .arg(total)
                            .arg(done));
        }
        const qint64 written = target.count(table);
        if (written != total) {
            throw Error(QStringLiteral("Таблица %1: прочитано строк %2, записано %3")
                            .arg(name)
                            .arg(total)
                            .arg(written));
        }
        counts.append({name, total});
    }
    stopIfAsked();
    target.finish();
    return counts;
}

std::unique_ptr<Target> newFile(const QString &path)
{
    return std::make_unique<FileTarget>(path);
}

} // namespace RegisterCopier
