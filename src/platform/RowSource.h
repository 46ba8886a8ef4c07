#pragma once

#include "Sqlite.h"
#include "Values.h"

#include <QString>

#include <functional>
#include <map>
#include <vector>

// Maps a declared column type to a field type: INTEGER, INT and LONG are 32-bit, SMALLINT and
// SHORT 16-bit, WORD, BYTE and TINYINT unsigned 16-bit, REAL, DOUBLE, FLOAT, NUMERIC and DECIMAL
// floating point, anything else text with the size given in brackets. Empty means "not declared".
bool fieldTypeFromDeclared(const QString &declared, FieldType &type, int &size);

// The rows of a table or of a select statement, with what is needed to write them back: every row
// is identified by a key (the table's row id), and changes are written through that key.
class RowSource
{
public:
    // Given one row at a time, its columns as the source's; the key is the row's identity (0 if
    // it has none).
    using RowReader = std::function<void(const RowCells &row, qint64 key)>;

    // All rows and columns of a table, in table order. Editable through the row id, also when the
    // table declares no key.
    static RowSource forTable(SqliteConnection &db, const QString &table);
    // The result of a select. Editable when its columns come from one table and include that
    // table's integer primary key; otherwise read-only.
    static RowSource forQuery(SqliteConnection &db, const QString &sql);

    const std::vector<SourceColumn> &columns() const { return m_columns; }
    bool isModifiable() const { return !m_table.isEmpty() && !m_db->isReadOnly(); }

    // Reads every row in the engine's order. A column whose type is not declared takes it from
    // the first row's value.
    void readAll(const RowReader &reader);
    // Reads one row again; false when it no longer exists.
    bool fetch(qint64 key, const RowReader &reader);

    // Writes the given columns of one row. Fails with the engine's message, or when the row is
    // gone; the engine has then changed nothing.
    void update(qint64 key, const std::vector<int> &columns, const std::vector<SqlValue> &values);
    // Adds a row with the given columns, the others left to the table's defaults; gives its key.
    qint64 insert(const std::vector<int> &columns, const std::vector<SqlValue> &values);
    void remove(qint64 key);

private:
    RowSource(SqliteConnection &db, const QString &selectSql);
    void describe(SqliteStatement &statement);
    void inferUndeclaredTypes(const RowCells &firstRow);
    QString columnList(const std::vector<int> &columns) const;
    void chooseUpdate(const std::vector<int> &columns);

    SqliteConnection *m_db;
    QString m_selectSql;
    QString m_table;     // the table written to; empty when read-only
    QString m_keyColumn; // the key column of m_table, as SQL
    int m_keyIndex = -1; // the statement column that holds the key
    int m_dataOffset = 0;
    std::vector<SourceColumn> m_columns;
    std::vector<bool> m_undeclared;
    // One UPDATE per set of columns written, keyed by the columns in ascending order.
    std::map<std::vector<int>, SqliteStatement> m_updates;
    // The last one used, for columns assigned in this order: a walk writes the same each time.
    struct ChosenUpdate
    {
        std::vector<int> columns;  // in the order assigned
        std::vector<size_t> order; // the assigned values, in the statement's order
        SqliteStatement *statement = nullptr;
    } m_chosenUpdate;
};
