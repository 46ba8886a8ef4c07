// Statements: prepared, bound, stepped, and their rows lent as cells.
#include "engines/sqlite/SqliteConnection.h"

#include <QStringEncoder>

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3 *db, const QString &sql) : m_db(db)
{
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &m_stmt, nullptr) !=
        SQLITE_OK)
        fail();
    if (!m_stmt) // an empty text or only a comment
        throw Error(QStringLiteral("SQL text is empty"));
}

SqliteStatement::SqliteStatement(sqlite3 *db, const QString &sql, Only) : m_db(db)
{
    const QByteArray utf8 = sql.toUtf8();
    const char *tail = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &m_stmt, &tail) !=
        SQLITE_OK)
        fail();
    if (!m_stmt)
        throw Error(QStringLiteral("SQL text is empty"));
    // What follows the first statement must be blanks and comments only: preparing the rest
    // gives no statement then.
    sqlite3_stmt *second = nullptr;
    const int rest = static_cast<int>(utf8.constData() + utf8.size() - tail);
    const bool more = sqlite3_prepare_v2(db, tail, rest, &second, nullptr) != SQLITE_OK || second;
    sqlite3_finalize(second);
    const bool writes = !sqlite3_stmt_readonly(m_stmt);
    if (more || writes) {
        // A constructor that throws has no destructor to finalise the statement.
        sqlite3_finalize(std::exchange(m_stmt, nullptr));
        throw Error(more ? QStringLiteral("Текст запроса содержит больше одной команды SQL")
                         : QStringLiteral("Запрос должен только читать данные, а не изменять их"));
    }
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_stmt(std::exchange(other.m_stmt, nullptr))
{}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

void SqliteStatement::fail() const
{
    throw Error(engineMessage(m_db));
}

void SqliteStatement::bind(int index, const SqlValue &value)
{
    int rc = SQLITE_OK;
    if (std::holds_alternative<std::monostate>(value)) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else if (auto i = std::get_if<qint64>(&value)) {
        rc = sqlite3_bind_int64(m_stmt, index, *i);
    } else if (auto d = std::get_if<double>(&value)) {
        rc = sqlite3_bind_double(m_stmt, index, *d);
    } else {
        // In the file's own encoding, so the engine need not convert it; a short text is
        // converted on the stack (the engine copies it).
        const QString &text = std::get<QString>(value);
        QStringEncoder toUtf8(QStringEncoder::Utf8);
        char buffer[768];
        if (toUtf8.requiredSpace(text.size()) <= static_cast<qsizetype>(sizeof buffer)) {
            const char *end = toUtf8.appendToBuffer(buffer, text);
            rc = sqlite3_bind_text(m_stmt, index, buffer, static_cast<int>(end - buffer),
                                   SQLITE_TRANSIENT);
        } else {
            const QByteArray utf8 = text.toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                                   SQLITE_TRANSIENT);
        }
    }
    if (rc != SQLITE_OK)
        fail();
}

void SqliteStatement::bindInt64(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        fail();
}

void SqliteStatement::bindBlob(int index, const QByteArray &bytes)
{
    if (sqlite3_bind_blob64(m_stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                            SQLITE_TRANSIENT) != SQLITE_OK)
        fail();
}

void SqliteStatement::bindCell(int index, const RowCells &row, int column)
{
    int rc = SQLITE_OK;
    switch (row.kind(column)) {
    case RowCells::Kind::Null:
        rc = sqlite3_bind_null(m_stmt, index);
        break;
    case RowCells::Kind::Integer:
        rc = sqlite3_bind_int64(m_stmt, index, row.integer(column));
        break;
    case RowCells::Kind::Real:
        rc = sqlite3_bind_double(m_stmt, index, row.real(column));
        break;
    case RowCells::Kind::Text: {
        const std::string_view text = row.utf8(column);
        rc = sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
        break;
    }
    }
    if (rc != SQLITE_OK)
        fail();
}

bool SqliteStatement::step()
{
    switch (sqlite3_step(m_stmt)) {
    case SQLITE_ROW:
        return true;
    case SQLITE_DONE:
        return false;
    default: {
        // Keep the message before reset() replaces it, and leave the statement reusable.
        Error error(engineMessage(m_db));
        sqlite3_reset(m_stmt);
        throw error;
    }
    }
}

void SqliteStatement::run()
{
    while (step()) {
    }
    reset();
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int SqliteStatement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

SqliteStatement::Type SqliteStatement::columnType(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return Type::Integer;
    case SQLITE_FLOAT:
        return Type::Real;
    case SQLITE_TEXT:
        return Type::Text;
    case SQLITE_BLOB:
        return Type::Blob;
    default:
        return Type::Null;
    }
}

qint64 SqliteStatement::columnInt64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::columnDouble(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

std::u16string_view SqliteStatement::columnText16(int column) const
{
    auto chars = static_cast<const char16_t *>(sqlite3_column_text16(m_stmt, column));
    const int bytes = sqlite3_column_bytes16(m_stmt, column);
    return chars ? std::u16string_view(chars, static_cast<size_t>(bytes) / sizeof(char16_t))
                 : std::u16string_view();
}

std::string_view SqliteStatement::columnUtf8(int column) const
{
    auto chars = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int bytes = sqlite3_column_bytes(m_stmt, column);
    return chars ? std::string_view(chars, static_cast<size_t>(bytes)) : std::string_view();
}

QString SqliteStatement::columnText(int column) const
{
    const std::u16string_view text = columnText16(column);
    return QString(reinterpret_cast<const QChar *>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

SqlValue SqliteStatement::columnValue(int column) const
{
    switch (columnType(column)) {
    case Type::Null:
        return std::monostate{};
    case Type::Integer:
        return columnInt64(column);
    case Type::Real:
        return columnDouble(column);
    case Type::Text:
    case Type::Blob:
        break;
    }
    return columnText(column);
}

QString SqliteStatement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QString SqliteStatement::columnDeclaredType(int column) const
{
    return QString::fromUtf8(sqlite3_column_decltype(m_stmt, column));
}

QString SqliteStatement::columnTable(int column) const
{
    return QString::fromUtf8(sqlite3_column_table_name(m_stmt, column));
}

QString SqliteStatement::columnOrigin(int column) const
{
    return QString::fromUtf8(sqlite3_column_origin_name(m_stmt, column));
}

RowCells::Kind StatementCells::kind(int column) const
{
    switch (m_statement.columnType(column + m_first)) {
    case SqliteStatement::Type::Null:
        return Kind::Null;
    case SqliteStatement::Type::Integer:
        return Kind::Integer;
    case SqliteStatement::Type::Real:
        return isSizeOnly(column) ? Kind::Integer : Kind::Real;
    case SqliteStatement::Type::Text:
    case SqliteStatement::Type::Blob:
        if (isSizeOnly(column))
            return Kind::Integer;
        break;
    }
    return Kind::Text;
}
