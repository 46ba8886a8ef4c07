// Results, and the one place that runs statements: each alone through the extended protocol,
// several together in one round trip, or a schema script; transactions; reconnecting.
#include "platform/Postgres.h"

#include "PgRows.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

#include <algorithm>

PgResult::PgResult(PgResult &&other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}

PgResult &PgResult::operator=(PgResult &&other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

PgResult::~PgResult()
{
    PQclear(m_result);
}

int PgResult::rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

int PgResult::columns() const
{
    return m_result ? PQnfields(m_result) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column) != 0;
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

// --- PgConnection ------------------------------------------------------------------------------

PgConnection::Parameters::Parameters(const std::vector<Value> &values)
    : texts(values.size()), nulls(values.size(), false)
{
    for (size_t i = 0; i < values.size(); ++i) {
        if (std::optional<QByteArray> text = PgRows::serverText(values[i]))
            texts[i] = std::move(*text);
        else
            nulls[i] = true;
    }
}

std::vector<const char *> PgConnection::Parameters::pointers() const
{
    std::vector<const char *> values(texts.size(), nullptr);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!nulls[i])
            values[i] = texts[i].constData();
    }
    return values;
}

PgResult PgConnection::exec(const QString &sql, const std::vector<Value> &parameters)
{
    return run(sql, parameters, false);
}

void PgConnection::execScript(const QString &sql)
{
    run(sql, {}, true);
}

void PgConnection::reconnectIfLost()
{
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return;
    // The connection was lost: the next action connects again. A transaction that was open
    // went with it, and the server has rolled it back.
    if (m_inTransaction) {
        m_inTransaction = false;
        fail(QStringLiteral("соединение потеряно, начатое изменение отменено. Повторите действие: "
                            "программа подключится снова"));
    }
    connect();
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString reason = connectionFailure();
        PQfinish(m_conn);
        m_conn = nullptr;
        fail(reason);
    }
}

PgResult PgConnection::run(const QString &sql, const std::vector<Value> &parameters, bool script)
{
    settle();
    reconnectIfLost();
    const Parameters encoded(parameters);
    const std::vector<const char *> values = encoded.pointers();
    // Only a script may hold several statements: the extended protocol refuses more than one,
    // so a text pasted into a statement can never run a second.
    const QByteArray text = sql.toUtf8();
    const int sent =
        script ? PQsendQuery(m_conn, text.constData())
               : PQsendQueryParams(m_conn, text.constData(), static_cast<int>(parameters.size()),
                                   nullptr, values.data(), nullptr, nullptr, 0);
    // Every answer is read; the first refusal is the one that counts, as with PQexec.
    PgResult result;
    bool refused = false;
    for (PgResult next; sent && (next = nextResult()).get();) {
        const bool fatal = PQresultStatus(next.get()) == PGRES_FATAL_ERROR;
        if (!refused)
            result = std::move(next);
        refused = refused || fatal;
    }
    const ExecStatusType status = result.get() ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return result;
    if (PQstatus(m_conn) != CONNECTION_OK)
        loseConnection(result.get());
    throw Error(refusal(result.get()));
}

std::vector<PgResult> PgConnection::execTogether(const std::vector<QString> &statements)
{
    settle();
    reconnectIfLost();
    if (!PQenterPipelineMode(m_conn))
        loseConnection();
    for (const QString &statement : statements) {
        if (!PQsendQueryParams(m_conn, statement.toUtf8().constData(), 0, nullptr, nullptr, nullptr,
                               nullptr, 0))
            loseConnection();
    }
    if (!PQpipelineSync(m_conn))
        loseConnection();
    std::vector<PgResult> results;
    std::optional<QString> refused;
    for (size_t i = 0; i < statements.size(); ++i) {
        PgResult result = nextResult();
        if (!result.get())
            loseConnection();
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_FATAL_ERROR && PQstatus(m_conn) != CONNECTION_OK)
            loseConnection(result.get());
        if (!refused && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            refused = refusal(result.get());
        while (PgResult(nextResult()).get()) {
        } // the end of this statement's answers
        results.push_back(std::move(result));
    }
    if (PQresultStatus(nextResult().get()) != PGRES_PIPELINE_SYNC || !PQexitPipelineMode(m_conn))
        loseConnection();
    if (refused)
        throw Error(*refused);
    return results;
}

void PgConnection::beginTransaction()
{
    exec(QStringLiteral("BEGIN"));
    m_inTransaction = true;
}

void PgConnection::beginSnapshot()
{
    exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    m_inTransaction = true;
}

void PgConnection::commitTransaction()
{
    settle();
    // The connection went, and the server rolled the transaction back with it: a COMMIT now
    // would run on a new connection and report success for nothing.
    if (!m_inTransaction)
        fail(QStringLiteral("соединение потеряно, начатое изменение отменено"));
    const PgResult result = exec(QStringLiteral("COMMIT"));
    m_inTransaction = false;
    // A transaction a statement failed in ends in a rollback, which COMMIT reports as done.
    if (qstrcmp(PQcmdStatus(result.get()), "COMMIT") != 0)
        throw Error(QStringLiteral("Сервер отменил изменение: одна из команд не выполнена"));
}

void PgConnection::rollbackTransaction()
{
    m_inTransaction = false;
    if (m_pipeline) {
        // The answers still due are read and dropped; a lost connection drops them anyway.
        m_pipeline->posts.clear();
        m_pipeline->refused.reset();
        try {
            settle();
        } catch (const Error &) {
        }
    }
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        exec(QStringLiteral("ROLLBACK"));
}
