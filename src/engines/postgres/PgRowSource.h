#pragma once

#include "engines/postgres/PgConnection.h"
#include "engines/postgres/PgStatement.h"

#include "engines/Engine.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// What the catalogue says of a table beyond a result's description, and its first rows when they
// were asked for ahead.
struct PgTable
{
    QString sqlName;   // as the server names it; empty: there is no such table
    QString key;       // its one whole-number primary key column; empty: none
    int keyNumber = 0; // its position in the table (attnum)
    std::map<int, QString> names;
    // A text column's size in characters as the program counts them, where the server's column
    // is unbounded and its comment carries the size ("знаков: 60"): the server's own varchar(n)
    // counts code points, which a letter with a combining mark spends two of.
    std::map<int, int> sizes;
    std::optional<PgResult> firstRows;

    // The tables of a catalogue result, by the names asked for.
    static std::map<QString, PgTable> read(const PgResult &columns);
    static PgTable read(PgConnection &db, const QString &table);
    // Its rows (after the key `after`, when given) with key and version, in the key's order.
    QString select(const QString &after = QString()) const;
    QString firstRowsSql() const;
    // The catalogue's description of the tables an array names: one row per column (or one with
    // nulls for a table that is not there), in the columns read() takes.
    static QString catalogueSql(const QString &tables);
};

// A table or a select on the server. A table is written through its one whole-number primary key,
// or, without one, through the row's physical place (which moves with every change: an update
// gives the new one). A select is editable when its columns come from one table and include that
// table's key.
class PgRowSource final : public RowSource
{
public:
    static std::unique_ptr<PgRowSource> forTable(PgConnection &db, const QString &table,
                                                 bool readOnly, PgTable known = {});
    static std::unique_ptr<PgRowSource> forQuery(PgConnection &db, const QString &sql,
                                                 bool readOnly);

    const std::vector<SourceColumn> &columns() const override { return m_columns; }
    bool isModifiable() const override { return !m_table.isEmpty() && !m_readOnly; }
    QString writtenTable() const override { return m_table; }
    void readAll(const RowReader &reader) override;
    bool fetch(qint64 key, const RowReader &reader) override;
    RowId update(const RowId &id, const RowCells &read, const std::vector<int> &columns,
                 const std::vector<int> &compared, const std::vector<Value> &values,
                 const RowReader &stored) override;
    qint64 insert(const std::vector<int> &columns, const std::vector<Value> &values) override;
    void remove(const RowId &id, const RowCells &read) override;

private:
    PgRowSource(PgConnection &db, QString selectSql, bool readOnly);
    // " AND (xmin = $versionAt OR <each compared column as read, from $versionAt + 1 on>)": a
    // row changed since it was read is still written while what this write compares is as read.
    QString unchangedCondition(int versionAt, const std::vector<int> &compared) const;
    // Reads `columns` of the row a transaction wrote ($1: its row version).
    QString writtenBy(const QString &columns) const;
    // Writes `values` into the row of `key`, whatever it holds.
    void rewrite(qint64 key, const std::vector<int> &columns, const std::vector<Value> &values);
    // A table without a key is addressed by the rows' physical places, which a compaction
    // (VACUUM FULL, CLUSTER) moves: its row is one equal in every column to what was read
    // (from $valuesAt on), the one at the place read ($placeAt) while it still is.
    QString equalRowCondition(int placeAt, int valuesAt) const;
    // The columns of the result from `first` on, but for the row version last where there is one.
    void describe(const PgResult &result, int first);
    // The key column as SQL, and the key as a parameter; with a version, also that the row is
    // still that version.
    QString keyCondition(int parameter) const;
    QString versionCondition(int parameter) const;
    Value keyParameter(qint64 key) const;
    qint64 keyOf(const PgResult &result, int row, int column) const;
    RowId idOf(const PgResult &result, int row, int keyColumn) const;
    QString selectList() const;
    // Makes the UPDATEs that write `columns`, comparing `compared` (m_updated).
    void chooseUpdate(const std::vector<int> &columns, const std::vector<int> &compared);

    PgConnection *m_db;
    QString m_selectSql;
    bool m_readOnly;
    QString m_table;     // the table written to, as SQL; empty when read-only
    QString m_keyColumn; // its key column as SQL; empty: the row's physical place
    int m_keyIndex = -1; // the result column that holds the key
    int m_dataOffset = 0;
    bool m_versioned = false; // the result's last column is the row's version (xmin)
    struct Updated
    {
        std::vector<int> columns;
        std::vector<int> compared; // comparedColumns of them
        QString sql;
        QString byVersion; // the same, for a post sent ahead: the row's version alone
    } m_updated;           // the UPDATE last made, for the columns it writes
    std::vector<SourceColumn> m_columns;
    std::vector<unsigned> m_types;       // the server's type of each column
    PgTable m_catalogue;                 // of a table
    std::optional<PgResult> m_firstRows; // read with the description, not yet lent
    // Whether the server stored a change whose fate was not learned; fails again with
    // OutcomeUnknown while it still cannot be learned.
    bool storedEarlier(quint64 transaction);
    // Changes whose fate was not learned: the transaction, and the key of a deletion's row; the
    // transactions of updates, by key.
    std::optional<quint64> m_unsureInsert;
    std::optional<std::pair<quint64, qint64>> m_unsureDelete;
    std::map<qint64, quint64> m_unsureUpdates;
};
