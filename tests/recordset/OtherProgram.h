#pragma once

// Another program on the same register, for the record-set walk of tst_model.cpp. One test file
// includes it.
#include "RecordSetModel.h"
#include "TestServer.h"

#include "engines/postgres/PostgresEngine.h"

#include <memory>

namespace {

// Another program on the same register: what the walk does through it, and how it reads the
// register back, on the file or on the server.
class OtherProgram
{
public:
    virtual ~OtherProgram() = default;
    // Empties Main and starts its numbering again.
    virtual void clear() = 0;
    virtual void insert(qint64 key, const QString &name) = 0;
    virtual void remove(qint64 key) = 0;
    // Sets one column of one row; gives what the register then holds there.
    virtual SqlValue set(qint64 key, int column, const SqlValue &value) = 0;
    // The values another program may put in a column.
    virtual std::vector<SqlValue> valuesFor(int column) const = 0;
    // Every row of Main by key.
    virtual std::vector<std::pair<qint64, Values>> rows() = 0;
    // Whether the register calls a row changed by any write, also of the value it held.
    virtual bool everyChangeCounts() const = 0;
    // Tells listeners that all it did so far was told ("end" for a table), where its changes are
    // told as notices that come on their own (a server); false where nothing need be waited for.
    virtual bool markEnd() { return false; }
};

class FileProgram final : public OtherProgram
{
public:
    explicit FileProgram(const TempDatabase &db) : m_db(db.connect()) {}

    void clear() override
    {
        m_db->exec(QStringLiteral("DELETE FROM Main"));
        m_db->exec(QStringLiteral("DELETE FROM sqlite_sequence WHERE name = 'Main'"));
    }
    void insert(qint64 key, const QString &name) override
    {
        SqliteStatement insert =
            m_db->prepare(QStringLiteral("INSERT INTO Main (Код, ФИО) VALUES (?, ?)"));
        insert.bindInt64(1, key);
        insert.bind(2, name.isNull() ? SqlValue() : SqlValue(name));
        insert.run();
    }
    void remove(qint64 key) override
    {
        m_db->exec(QStringLiteral("DELETE FROM Main WHERE Код = %1").arg(key));
    }
    SqlValue set(qint64 key, int column, const SqlValue &value) override
    {
        SqliteStatement update =
            m_db->prepare(QStringLiteral("UPDATE Main SET %1 = ? WHERE Код = ?")
                              .arg(QString::fromUtf8(columnNames[column])));
        update.bind(1, value);
        update.bindInt64(2, key);
        update.run();
        // The column's affinity decides what is stored (1961 in a text column is '1961').
        SqliteStatement reread = m_db->prepare(QStringLiteral("SELECT %1 FROM Main WHERE Код = ?")
                                                   .arg(QString::fromUtf8(columnNames[column])));
        reread.bindInt64(1, key);
        reread.step();
        return reread.columnValue(0);
    }
    std::vector<SqlValue> valuesFor(int) const override { return foreignValues(); }
    bool everyChangeCounts() const override { return false; }
    std::vector<std::pair<qint64, Values>> rows() override
    {
        std::vector<std::pair<qint64, Values>> rows;
        SqliteStatement select = m_db->prepare(QStringLiteral("SELECT * FROM Main ORDER BY Код"));
        while (select.step()) {
            Values values;
            for (int column = 0; column < columnCount; ++column)
                values[size_t(column)] = select.columnValue(column);
            rows.emplace_back(select.columnInt64(0), values);
        }
        return rows;
    }

private:
    std::unique_ptr<SqliteConnection> m_db;
};

class ServerProgram final : public OtherProgram
{
public:
    explicit ServerProgram(const ServerDatabase &db) : m_db(db.connect()) {}

    void clear() override { m_db->exec(QStringLiteral("TRUNCATE Main RESTART IDENTITY")); }
    void insert(qint64 key, const QString &name) override
    {
        m_db->exec(QStringLiteral("INSERT INTO Main (Код, ФИО) VALUES ($1, $2)"),
                   {SqlValue(key), name.isNull() ? SqlValue() : SqlValue(name)});
        // As on the file, a key is never given twice: numbering goes on after the highest.
        m_db->exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('main', 'Код'), "
                                  "greatest($1::bigint, (SELECT last_value FROM "
                                  "main_Код_seq)))"),
                   {SqlValue(key)});
    }
    void remove(qint64 key) override
    {
        m_db->exec(QStringLiteral("DELETE FROM Main WHERE Код = $1"), {SqlValue(key)});
    }
    SqlValue set(qint64 key, int column, const SqlValue &value) override
    {
        m_db->exec(QStringLiteral("UPDATE Main SET %1 = $1 WHERE Код = $2")
                       .arg(QString::fromUtf8(columnNames[column])),
                   {value, SqlValue(key)});
        return value;
    }
    bool everyChangeCounts() const override { return true; }
    bool markEnd() override
    {
        m_db->exec(QStringLiteral("NOTIFY reestr, 'end'"));
        return true;
    }
    std::vector<SqlValue> valuesFor(int column) const override
    {
        // The server keeps every column's type: only values of that type go in.
        if (isTextColumn(column))
            return {SqlValue(), SqlValue(QStringLiteral("abc")), SqlValue(QStringLiteral("1961")),
                    SqlValue(QStringLiteral("Яковлев"))};
        return {SqlValue(), SqlValue(qint64(1961)), SqlValue(qint64(-2147483648LL))};
    }
    std::vector<std::pair<qint64, Values>> rows() override
    {
        std::vector<std::pair<qint64, Values>> rows;
        const PgResult result = m_db->exec(QStringLiteral("SELECT * FROM Main ORDER BY Код"));
        for (int row = 0; row < result.rows(); ++row) {
            Values values;
            for (int column = 0; column < columnCount; ++column) {
                if (result.isNull(row, column))
                    continue;
                const QString text = result.text(row, column);
                values[size_t(column)] =
                    isTextColumn(column) ? SqlValue(text) : SqlValue(text.toLongLong());
            }
            rows.emplace_back(result.text(row, 0).toLongLong(), values);
        }
        return rows;
    }

private:
    std::unique_ptr<PgConnection> m_db;
};

} // namespace
