#pragma once

#include "engines/sqlite/SqliteConnection.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// What the reader of an old Access file sends to the importer over a pipe. The reader runs in a
// process of its own (libmdb is not safe against damaged files); everything it sends is checked
// by the importer before it is used.
//
// A frame is a kind byte, a 4-byte little-endian length and that many bytes of payload:
//   Next    the name of the table about to be read (so a crash can be blamed on it)
//   Table   a table and its columns: name, column count, then (name, SQL declaration) each
//   Planned every table has been described
//   Begin   the rows of table number n (in the order described) follow; then the expected count
//   Row     one row: one value per column (a null, a number, a text or the bytes of a BLOB)
//   Skipped a column left out (--skip-unsupported): table, column, type
//   End     the table's rows are all sent
//   Failure the reader stopped on purpose: a message for the user
namespace ImportStream {

enum class Kind : char {
    Next = 'N',
    Table = 'T',
    Planned = 'P',
    Begin = 'B',
    Row = 'R',
    End = 'E',
    Skipped = 'K',
    Failure = 'F'
};

// A value of a row as it travels: a BLOB's bytes, or any other value.
struct Cell
{
    SqlValue value;
    std::optional<QByteArray> bytes;
};

// Frames larger than this are taken for garbage: no row of the register comes near it.
constexpr quint32 maxFrame = 64u << 20;

// Builds a payload.
class Writer
{
public:
    void text(const QString &value);
    void number(qint64 value);
    void value(const SqlValue &value);
    void blob(const QByteArray &bytes);
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Reads a payload; every read fails with Error when the payload is short or malformed.
class Reader
{
public:
    explicit Reader(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    QString text();
    qint64 number();
    SqlValue value();
    Cell cell();
    bool atEnd() const { return m_at == m_bytes.size(); }

private:
    QByteArray take(qsizetype size);
    QByteArray m_bytes;
    qsizetype m_at = 0;
};

// Writes one frame to a file descriptor; false when the other side is gone.
bool writeFrame(int fd, Kind kind, const QByteArray &payload);

// Reads one frame; false at the end of the stream. A frame cut short or too large throws Error.
bool readFrame(int fd, Kind &kind, QByteArray &payload);

} // namespace ImportStream
