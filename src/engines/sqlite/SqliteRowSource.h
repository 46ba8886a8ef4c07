#pragma once

#include "engines/Engine.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

// Maps a declared column type to a field type: INTEGER, INT and LONG are 32-bit, SMALLINT and
// SHORT 16-bit, WORD, BYTE and TINYINT unsigned 16-bit, REAL, DOUBLE, FLOAT, NUMERIC and DECIMAL
// floating point, anything else text with the size given in brackets. Empty means "not declared".
bool fieldTypeFromDeclared(const QString &declared, FieldType &type, int &size);

// The rows of a table or of a select over SQLite. A table is editable through its row id, also
// when it declares no key; a select when its columns come from one table and include that table's
// integer primary key. A column whose type is not declared takes it from the first row's value.
class SqliteRowSource final : public RowSource
{
public:
    static std::unique_ptr<SqliteRowSource> forTable(SqliteConnection &db, const QString &table);
    static std::unique_ptr<SqliteRowSource> forQuery(SqliteConnection &db, const QString &sql);

    const std::vector<SourceColumn> &columns() const override { return m_columns; }
    bool isModifiable() const override { return !m_table.isEmpty() && !m_db->isReadOnly(); }
    QString writtenTable() const override { return m_table; }
    void readAll(const RowReader &reader) override;
    bool fetch(qint64 key, const RowReader &reader) override;
    RowId update(const RowId &id, const RowCells &read, const std::vector<int> &columns,
                 const std::vector<int> &compared, const std::vector<Value> &values,
                 const RowReader &stored) override;
    qint64 insert(const std::vector<int> &columns, const std::vector<Value> &values) override;
    void remove(const RowId &id, const RowCells &read) override;

private:
    SqliteRowSource(SqliteConnection &db, const QString &selectSql);
    void describe(SqliteStatement &statement);
    void inferUndeclaredTypes(const RowCells &firstRow);
    QString columnList(const std::vector<int> &columns) const;
    void chooseUpdate(const std::vector<int> &columns);
    // "a = ?, b = ?" for the columns, named in ascending order.
    QString assignments(std::vector<int> columns) const;
    // Whether the row may differ from what was read: another connection committed since (the
    // row's version is the file's data version it was read at; `version` is the file's now), or
    // another part of this program wrote through this connection since this source read its rows.
    bool mayHaveChanged(const RowId &id, quint64 version) const;
    // " AND <column> IS ?" for the given columns, and their values as read. Values are compared as
    // stored: a text another program stored as a BLOB equals the text read from it.
    QString rowCheck(const std::vector<int> &columns) const;
    void bindRowCheck(SqliteStatement &statement, int first, const RowCells &read,
                      const std::vector<int> &columns) const;
    // The row to write in place of the one read as `read` at `key`. A table without a key of its
    // own is addressed by rowids that a VACUUM may renumber: its row is the one equal to what was
    // read, at `key` if that one still is; 0 when there is none. Others: `key`.
    qint64 rowToWrite(qint64 key, const RowCells &read, bool check) const;
    // Runs `write` in a write transaction of its own unless one is open, so that nobody commits
    // between the check of the row and the write.
    template <typename Write> auto locked(Write write);

    SqliteConnection *m_db;
    QString m_selectSql;
    QString m_table;        // the table written to; empty when read-only
    QString m_keyColumn;    // the key column of m_table, as SQL
    bool m_keyless = false; // m_table has no key of its own: its rows are known by their values
    int m_keyIndex = -1;    // the statement column that holds the key
    int m_dataOffset = 0;
    std::vector<SourceColumn> m_columns;
    std::vector<bool> m_undeclared;
    std::vector<bool> m_sizeOnly; // binary columns, read as their size
    // The UPDATEs for a set of columns written, keyed by the columns in ascending order: by key
    // alone, and by key with the columns it compares as read.
    struct Update
    {
        SqliteStatement byKey;
        SqliteStatement checked;
        std::vector<int> compared;
    };
    std::map<std::vector<int>, Update> m_updates;
    // The last one used, for columns assigned in this order: a walk writes the same each time.
    struct ChosenUpdate
    {
        std::vector<int> columns;  // in the order assigned
        std::vector<size_t> order; // the assigned values, in the statement's order
        Update *statements = nullptr;
    } m_chosenUpdate;
    // The connection's count of writes when the rows were read, and this source's own since.
    quint64 m_writesWhenRead = 0;
    quint64 m_ownWrites = 0;
    SqliteStatement m_fetch; // a row by key, prepared when first used
};
