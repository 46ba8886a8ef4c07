// The one place that runs statements: each alone through the extended protocol,
// several together in one round trip, or a schema script; transactions; reconnecting.
#include "engines/postgres/PgConnection.h"

#include "PgRows.h"
#include "engines/EngineErrors.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

#include <algorithm>

#include <poll.h>

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

bool PgConnection::closedWhileIdle()
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return true;
    if (m_inTransaction || m_pipeline || PQisBusy(m_conn))
        return false;
    // An idle connection has nothing to read unless the server spoke unasked: a notice, or its
    // goodbye, which the end of the stream follows.
    for (int read = 0; read < 8; ++read) {
        pollfd ready{PQsocket(m_conn), POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0)
            return false;
        if (!PQconsumeInput(m_conn) || PQstatus(m_conn) != CONNECTION_OK)
            return true;
    }
    return false;
}

void PgConnection::reconnectIfLost()
{
    if (!closedWhileIdle())
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
        if (std::exchange(m_cancelled, false))
            throw WaitCancelled(
                QStringLiteral("Нет связи с сервером баз данных (%1): %2").arg(m_where, reason));
        fail(reason);
    }
    endAbandoned();
}

void PgConnection::endAbandoned()
{
    const std::optional<Abandoned> abandoned = std::exchange(m_abandoned, std::nullopt);
    if (!abandoned)
        return;
    // Only a backend still in that very transaction is ended (its process id alone may have
    // gone to another connection since); it is waited for, so that its locks are free and its
    // transaction's fate is settled when this returns.
    try {
        exec(QStringLiteral("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                            "WHERE pid = $1 AND backend_xid = $2::xid"),
             {Value(qint64(abandoned->backend)),
              Value(QString::number(rowVersion(abandoned->transaction)))});
    } catch (const ConnectionLost &) {
        throw;
    } catch (const Error &) {
        // A role that may not end it: the server ends it once it notices the client gone.
    }
}

PgConnection::Fate PgConnection::fateOf(quint64 transaction)
{
    try {
        reconnectIfLost();
        const QString status = exec(QStringLiteral("SELECT pg_xact_status($1::xid8)"),
                                    {Value(QString::number(transaction))})
                                   .text(0, 0);
        if (status == QLatin1String("committed"))
            return Fate::Committed;
        if (status == QLatin1String("aborted"))
            return Fate::NotCommitted;
    } catch (const Error &) {
    }
    return Fate::Unknown; // the server cannot be reached, or the transaction is still open
}

void PgConnection::settleLost(quint64 transaction, const ConnectionLost &lost)
{
    const bool cancelled = dynamic_cast<const WaitCancelled *>(&lost) != nullptr;
    const QString reason = lost.message();
    switch (fateOf(transaction)) {
    case Fate::Committed:
        if (m_access.stored)
            m_access.stored(QStringLiteral("Связь с сервером баз данных (%1) прерывалась, но "
                                           "изменение сохранено: сервер его принял. Связь "
                                           "восстановлена, можно работать дальше")
                                .arg(m_where));
        return;
    case Fate::NotCommitted:
        if (cancelled)
            throw WaitCancelled(QStringLiteral("Ожидание сервера баз данных (%1) отменено, и "
                                               "изменение НЕ сохранено. Сохраните его ещё раз, "
                                               "когда сервер или другой компьютер освободится")
                                    .arg(m_where));
        throw Error(QStringLiteral("Связь с сервером баз данных (%1) прервалась, и изменение НЕ "
                                   "сохранено. Связь восстановлена: сохраните изменение ещё раз")
                        .arg(m_where));
    case Fate::Unknown:
        break;
    }
    throw OutcomeUnknown(
        QStringLiteral("Связь с сервером баз данных (%1) прервалась после того, как изменение "
                       "было отправлено, и узнать, сохранено ли оно, не удалось.\n%2\nПроверьте "
                       "сеть (и VPN) и сохраните запись ещё раз: если изменение уже сохранено, "
                       "программа не запишет его второй раз")
            .arg(m_where, reason),
        transaction);
}

PgResult PgConnection::write(const QString &sql, const std::vector<Value> &parameters,
                             const QString &afterLoss)
{
    if (m_inTransaction)
        return exec(sql, parameters);
    beginTransaction();
    const quint64 transaction = m_transaction;
    try {
        return execThenCommit(sql, parameters);
    } catch (const ConnectionLost &lost) {
        settleLost(transaction, lost);
    }
    if (afterLoss.isEmpty())
        return PgResult();
    return exec(afterLoss, {Value(QString::number(rowVersion(transaction)))});
}

PgResult PgConnection::execThenCommit(const QString &sql, const std::vector<Value> &parameters)
{
    const Parameters encoded(parameters);
    const std::vector<const char *> values = encoded.pointers();
    if (!PQenterPipelineMode(m_conn) ||
        !PQsendQueryParams(m_conn, sql.toUtf8().constData(), static_cast<int>(parameters.size()),
                           nullptr, values.data(), nullptr, nullptr, 0) ||
        !PQsendQueryParams(m_conn, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0) ||
        !PQpipelineSync(m_conn))
        loseConnection();
    std::vector<PgResult> answers;
    for (int i = 0; i < 2; ++i) {
        answers.push_back(nextResult());
        if (!answers.back().get() || (PQresultStatus(answers.back().get()) == PGRES_FATAL_ERROR &&
                                      PQstatus(m_conn) != CONNECTION_OK))
            loseConnection(answers.back().get());
        while (PgResult(nextResult()).get()) {
        }
    }
    if (PQresultStatus(nextResult().get()) != PGRES_PIPELINE_SYNC || !PQexitPipelineMode(m_conn))
        loseConnection();
    const ExecStatusType status = PQresultStatus(answers[0].get());
    const bool done = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (done && qstrcmp(PQcmdStatus(answers[1].get()), "COMMIT") == 0) {
        m_inTransaction = false;
        m_transaction = 0;
        return std::move(answers[0]);
    }
    // The statement was refused: its transaction is left aborted, and is ended.
    const QString refused = refusal(answers[0].get());
    rollbackTransaction();
    throw Error(done ? QStringLiteral("Сервер отменил изменение: одна из команд не выполнена")
                     : refused);
}

PgResult PgConnection::run(const QString &sql, const std::vector<Value> &parameters, bool script,
                           bool retried)
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
    // A read that finds the connection closed by a restart, after it was checked, is made again
    // once on a new connection: it changed nothing.
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
    if (PQstatus(m_conn) != CONNECTION_OK) {
        if (!script && !m_inTransaction && !retried && sql.startsWith(QLatin1String("SELECT ")))
            return run(sql, parameters, script, true); // on a new connection
        loseConnection(result.get());
    }
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
    // The transaction's id comes with its start: should the connection go before its COMMIT is
    // answered, the server can still be asked what became of it. A connection found closed
    // (a restart) as the transaction begins is made again once: nothing was written on it.
    const std::vector<QString> begin = {QStringLiteral("BEGIN"),
                                        QStringLiteral("SELECT pg_current_xact_id()::text")};
    std::vector<PgResult> begun;
    try {
        begun = execTogether(begin);
    } catch (const ServerSilent &) {
        throw;
    } catch (const ConnectionLost &) {
        begun = execTogether(begin);
    }
    m_inTransaction = true;
    m_transaction = begun[1].text(0, 0).toULongLong();
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
    const quint64 transaction = m_transaction;
    PgResult result;
    try {
        result = exec(QStringLiteral("COMMIT"));
    } catch (const ConnectionLost &lost) {
        if (!transaction)
            throw; // a snapshot's: it wrote nothing
        settleLost(transaction, lost);
        return;
    }
    m_inTransaction = false;
    m_transaction = 0;
    // A transaction a statement failed in ends in a rollback, which COMMIT reports as done.
    if (qstrcmp(PQcmdStatus(result.get()), "COMMIT") != 0)
        throw Error(QStringLiteral("Сервер отменил изменение: одна из команд не выполнена"));
}

void PgConnection::rollbackTransaction()
{
    m_inTransaction = false;
    m_transaction = 0;
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
