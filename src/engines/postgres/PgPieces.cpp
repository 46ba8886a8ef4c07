// A large select read a piece at a time through a cursor.
#include "engines/postgres/PgRowSource.h"

#include "PgRows.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

using namespace PgRows;

void PgConnection::readInPieces(const QString &sql,
                                const std::function<void(const PgResult &)> &piece)
{
    settle();
    // A cursor lives in a transaction: the caller's, or one of its own that reads one snapshot.
    // Its opening goes with the first piece, and its closing with the end of the transaction.
    const bool own = !m_inTransaction;
    const QString fetch = QStringLiteral("FETCH FORWARD %1 FROM reestr_rows").arg(rowsPerPiece);
    std::vector<QString> opening = {
        QStringLiteral("DECLARE reestr_rows NO SCROLL CURSOR FOR ") + sql, fetch};
    if (own)
        opening.insert(opening.begin(),
                       QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    try {
        std::vector<PgResult> opened = execTogether(opening);
        for (PgResult rows = std::move(opened.back());; rows = exec(fetch)) {
            piece(rows);
            if (rows.rows() < rowsPerPiece)
                break;
        }
        if (own)
            execTogether({QStringLiteral("CLOSE reestr_rows"), QStringLiteral("COMMIT")});
        else
            exec(QStringLiteral("CLOSE reestr_rows"));
    } catch (const Error &) {
        if (own && m_conn && PQstatus(m_conn) == CONNECTION_OK) {
            try {
                exec(QStringLiteral("ROLLBACK"));
            } catch (const Error &) {
            }
        }
        throw;
    }
}
