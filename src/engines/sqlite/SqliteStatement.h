#pragma once

#include "engines/Values.h"

#include <QByteArray>
#include <QString>

#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// The engine stores exactly the program's values: null, whole and floating-point numbers, texts.
using SqlValue = Value;

// One prepared statement. Move-only; finalised when destroyed.
class SqliteStatement
{
public:
    enum class Type { Null, Integer, Real, Text, Blob };

    SqliteStatement() = default;
    SqliteStatement(sqlite3 *db, const QString &sql);
    // Refuses a text that holds more than one statement, or one that would change the database.
    enum class Only { OneQuery };
    SqliteStatement(sqlite3 *db, const QString &sql, Only);
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;
    ~SqliteStatement();

    bool isValid() const { return m_stmt != nullptr; }

    // Parameters count from 1, as in SQL.
    void bind(int index, const SqlValue &value);
    void bindInt64(int index, qint64 value);
    void bindBlob(int index, const QByteArray &bytes);
    // One cell of a row as it was read, kind and bytes unchanged.
    void bindCell(int index, const RowCells &row, int column);

    // Steps once: true while a row is available, false when done. Engine failures throw.
    bool step();
    // Runs a statement that returns no rows, then makes it ready for the next binding.
    void run();
    void reset();

    int columnCount() const;
    Type columnType(int column) const;
    qint64 columnInt64(int column) const;
    double columnDouble(int column) const;
    QString columnText(int column) const;
    // The text of the current row without a copy; valid until the next step or reset.
    std::u16string_view columnText16(int column) const;
    // The same in UTF-8, as the engine stores it.
    std::string_view columnUtf8(int column) const;
    SqlValue columnValue(int column) const;

    // Metadata of the result: the column's name, declared type, and the table and column it
    // comes from (empty for an expression).
    QString columnName(int column) const;
    QString columnDeclaredType(int column) const;
    QString columnTable(int column) const;
    QString columnOrigin(int column) const;

private:
    [[noreturn]] void fail() const;

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
};

// The current row of a statement as cells, from column `first` of the statement on.
class StatementCells final : public RowCells
{
public:
    // With `sizeOnly`, the columns it marks are lent as their size in bytes: binary data the
    // program shows by its size and never reads.
    StatementCells(const SqliteStatement &statement, int first,
                   const std::vector<bool> *sizeOnly = nullptr)
        : m_statement(statement), m_first(first), m_sizeOnly(sizeOnly)
    {}
    Kind kind(int column) const override;
    qint64 integer(int column) const override
    {
        if (isSizeOnly(column))
            return static_cast<qint64>(m_statement.columnUtf8(column + m_first).size());
        return m_statement.columnInt64(column + m_first);
    }
    double real(int column) const override { return m_statement.columnDouble(column + m_first); }
    std::string_view utf8(int column) const override
    {
        return m_statement.columnUtf8(column + m_first);
    }

private:
    bool isSizeOnly(int column) const
    {
        return m_sizeOnly && (*m_sizeOnly)[static_cast<size_t>(column)];
    }

    const SqliteStatement &m_statement;
    int m_first;
    const std::vector<bool> *m_sizeOnly;
};
