#pragma once

#include <QString>

#include <string_view>
#include <variant>

// The program's words for data, whatever engine holds it. The record sets, their fields and the
// controls speak only these; an engine adapter converts its own types at its boundary.

// A value: null, a whole number, a floating-point number or a text.
using Value = std::variant<std::monostate, qint64, double, QString>;

// The types a column can have for the program.
enum class FieldType {
    Text,   // with a size in characters; 0 means unlimited
    Int32,  // 32-bit whole number
    Int16,  // -32768 to 32767
    UInt16, // 0 to 65535
    Double, // double-precision floating point
    Date,   // a date, with a time of day or not, held as ISO 8601 text ("YYYY-MM-DD HH:MM:SS")
    Blob    // binary data (an OLE object, a picture): held as its size in bytes, never changed
};

struct SourceColumn
{
    QString name;
    FieldType type = FieldType::Text;
    int size = 0;          // text size in characters; 0 for unlimited and for numbers
    bool readOnly = false; // an expression, a column of another table, or an auto-numbered key
    QString origin;        // the column of the source table it comes from; empty if none
};

// A row as the program read it: its key (0 if it has none) and the version the engine read it
// at, by which the engine tells whether another computer changed the row since.
struct RowId
{
    qint64 key = 0;
    quint64 version = 0;
};

// One row of a result as an engine adapter lends it to a reader, its columns counted from 0 in
// the result's order. Valid only while the reader runs; nothing is copied until it is read.
class RowCells
{
public:
    enum class Kind { Null, Integer, Real, Text };

    virtual Kind kind(int column) const = 0;
    virtual qint64 integer(int column) const = 0;
    virtual double real(int column) const = 0;
    // A text in UTF-8; bytes stored as they are.
    virtual std::string_view utf8(int column) const = 0;

protected:
    RowCells() = default;
    ~RowCells() = default;
    RowCells(const RowCells &) = default;
    RowCells &operator=(const RowCells &) = default;
};
