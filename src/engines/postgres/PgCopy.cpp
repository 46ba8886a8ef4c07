// Rows sent in bulk by COPY.
#include "engines/postgres/PgRowSource.h"

#include "PgRows.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

namespace {

// Rows are handed to libpq in pieces of about this size. The server reads a whole piece before it
// takes its rows, so small pieces let it work while the next is made: 256 KiB took twice as long
// as 32 KiB for a million rows here.
constexpr qsizetype copyPiece = 32 * 1024;

// A text value in COPY's text format: the characters that end a value or a row, escaped.
void appendCopyText(QByteArray &buffer, const QByteArray &text)
{
    const auto special = [](char c) { return c == '\\' || c == '\t' || c == '\n' || c == '\r'; };
    if (std::none_of(text.begin(), text.end(), special)) {
        buffer.append(text);
        return;
    }
    for (const char c : text) {
        switch (c) {
        case '\\':
            buffer.append("\\\\");
            break;
        case '\t':
            buffer.append("\\t");
            break;
        case '\n':
            buffer.append("\\n");
            break;
        case '\r':
            buffer.append("\\r");
            break;
        default:
            buffer.append(c);
        }
    }
}

} // namespace

void PgConnection::beginCopy(const QString &sql)
{
    settle();
    reconnectIfLost();
    PgResult result;
    if (PQsendQuery(m_conn, sql.toUtf8().constData()))
        result = nextResult();
    if (PQresultStatus(result.get()) != PGRES_COPY_IN) {
        if (PQstatus(m_conn) != CONNECTION_OK)
            loseConnection(result.get());
        const QString refused = refusal(result.get());
        while (PgResult(nextResult()).get()) {
        }
        throw Error(refused);
    }
    m_copyBuffer.clear();
}

void PgConnection::copyRow(const std::vector<Value> &row)
{
    for (size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            m_copyBuffer.append('\t');
        if (const std::optional<QByteArray> text = PgRows::serverText(row[i]))
            appendCopyText(m_copyBuffer, *text);
        else
            m_copyBuffer.append("\\N");
    }
    m_copyBuffer.append('\n');
    if (m_copyBuffer.size() >= copyPiece) {
        if (PQputCopyData(m_conn, m_copyBuffer.constData(), int(m_copyBuffer.size())) != 1)
            loseConnection();
        m_copyBuffer.clear();
    }
}

void PgConnection::endCopy()
{
    if (!m_copyBuffer.isEmpty() &&
        PQputCopyData(m_conn, m_copyBuffer.constData(), int(m_copyBuffer.size())) != 1)
        loseConnection();
    m_copyBuffer.clear();
    if (PQputCopyEnd(m_conn, nullptr) != 1)
        loseConnection();
    PgResult result = nextResult();
    while (PgResult(nextResult()).get()) {
    }
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        if (PQstatus(m_conn) != CONNECTION_OK)
            loseConnection(result.get());
        throw Error(refusal(result.get()));
    }
}
