// Posts sent ahead of their answers within a transaction.
#include "engines/postgres/PgConnection.h"

#include "engines/EngineErrors.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

#include <algorithm>

#include <poll.h>

namespace {

// Posts between two sync points: the server's answers to them come back together, and a refused
// one aborts the rest of its group, which is sent again only up to the refused post.
constexpr int postsPerSync = 256;
// At most this many answers are awaited before the next post goes: enough to keep a slow link
// full, and a link gone silent is noticed within the answer limit of the last answer, not after
// every post of a long walk was sent into it.
constexpr size_t answersAwaited = 16 * postsPerSync;

} // namespace

void PgConnection::loseConnection(const pg_result *result)
{
    const bool lostTransaction = m_inTransaction;
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const bool administrator = state && qstrncmp(state, "57P0", 4) == 0;
    const char *primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const QString detail = libpqDetail(primary ? primary : PQerrorMessage(m_conn));
    dropConnection(); // the next statement connects again
    throw ConnectionLost(
        QStringLiteral("Нет связи с сервером баз данных (%1): %2%3. Повторите действие%4: "
                       "программа подключится снова\nСообщение сервера: %5")
            .arg(m_where,
                 administrator ? QStringLiteral("сервер остановлен или перезапущен администратором")
                               : QStringLiteral("соединение потеряно"),
                 lostTransaction ? QStringLiteral(", начатое изменение отменено") : QString(),
                 administrator ? QStringLiteral(" через минуту") : QString(), detail));
}

void PgConnection::startPipeline()
{
    settle();
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return; // the next statement finds the connection gone and says so
    // Every row the posts write carries the transaction's id as its version.
    if (!m_transaction)
        m_transaction =
            exec(QStringLiteral("SELECT pg_current_xact_id()::text")).text(0, 0).toULongLong();
    if (!PQenterPipelineMode(m_conn) || PQsetnonblocking(m_conn, 1) != 0)
        fail(QString::fromUtf8(PQerrorMessage(m_conn)).trimmed());
    m_pipeline.emplace();
}

QByteArray PgConnection::prepared(const QString &sql, int parameters)
{
    auto [it, added] = m_prepared.try_emplace(sql);
    if (added) {
        it->second = "reestr_" + QByteArray::number(qulonglong(m_prepared.size()));
        if (!PQsendPrepare(m_conn, it->second.constData(), sql.toUtf8().constData(), parameters,
                           nullptr))
            loseConnection();
        m_pipeline->awaited.push_back({Awaited::Kind::Prepare});
    }
    return it->second;
}

void PgConnection::post(const QString &sql, const std::vector<Value> &parameters, qint64 key)
{
    if (!m_pipeline)
        throw Error(QStringLiteral("Posting ahead outside a pipeline"));
    const QByteArray statement = prepared(sql, static_cast<int>(parameters.size()));
    m_pipeline->posts.push_back({key, statement, Parameters(parameters)});
    send(m_pipeline->posts.size() - 1);
    pump(false);
    if (m_pipeline->refused)
        settle(); // reports the refusal
}

void PgConnection::send(size_t index)
{
    const Post &post = m_pipeline->posts[index];
    const std::vector<const char *> values = post.parameters.pointers();
    if (!PQsendQueryPrepared(m_conn, post.statement.constData(), static_cast<int>(values.size()),
                             values.data(), nullptr, nullptr, 0))
        loseConnection();
    m_pipeline->awaited.push_back({Awaited::Kind::Post, index});
    if (++m_pipeline->sinceSync == postsPerSync) {
        if (!PQpipelineSync(m_conn))
            loseConnection();
        m_pipeline->awaited.push_back({Awaited::Kind::Sync});
        m_pipeline->sinceSync = 0;
    }
}

void PgConnection::pump(bool drain)
{
    for (;;) {
        const int unsent = PQflush(m_conn);
        if (unsent < 0)
            loseConnection();
        readAnswers();
        const bool farAhead = m_pipeline->awaited.size() > answersAwaited;
        if (unsent == 0 && !farAhead && (!drain || m_pipeline->awaited.empty()))
            return;
        // Wait for the server to take more or to answer; answers are read meanwhile, so that
        // neither side's buffers fill while the other waits.
        if (!await(short(POLLIN | (unsent ? POLLOUT : 0))))
            timedOut();
    }
}

void PgConnection::readAnswers()
{
    Pipeline &pipeline = *m_pipeline;
    if (!PQconsumeInput(m_conn))
        loseConnection();
    while (!pipeline.awaited.empty() && !PQisBusy(m_conn)) {
        PgResult result(PQgetResult(m_conn));
        if (!result.get()) {
            // The end of one statement's answers.
            if (pipeline.awaited.front().answered)
                pipeline.awaited.pop_front();
            else if (PQstatus(m_conn) != CONNECTION_OK)
                loseConnection();
            continue;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_PIPELINE_SYNC) {
            // A sync point ends every statement sent before it.
            while (!pipeline.awaited.empty()) {
                const Awaited::Kind kind = pipeline.awaited.front().kind;
                pipeline.awaited.pop_front();
                if (kind == Awaited::Kind::Sync)
                    break;
            }
            continue;
        }
        if (pipeline.awaited.front().answered)
            pipeline.awaited.pop_front(); // answers that ended without a null
        if (pipeline.awaited.empty())
            continue;
        Awaited &awaited = pipeline.awaited.front();
        awaited.answered = true;
        if (status == PGRES_FATAL_ERROR && PQstatus(m_conn) != CONNECTION_OK)
            loseConnection(result.get());
        if (pipeline.refused || status == PGRES_PIPELINE_ABORTED)
            continue; // after the first refusal only its consequences follow
        QString refusal;
        if (status == PGRES_FATAL_ERROR) {
            refusal = this->refusal(result.get());
        } else if (awaited.kind == Awaited::Kind::Post && qstrcmp(PQcmdTuples(result.get()), "1")) {
            // The row is gone or is no longer the version read.
            refusal = RowChangedElsewhere().message();
            pipeline.changedElsewhere = true;
        }
        if (!refusal.isEmpty()) {
            // A statement that could not be prepared refuses the first post that uses it.
            pipeline.refused = awaited.kind == Awaited::Kind::Post ? awaited.post
                               : pipeline.awaited.size() > 1       ? pipeline.awaited[1].post
                                                                   : 0;
            pipeline.refusal = refusal;
        }
    }
}

void PgConnection::settle()
{
    if (!m_pipeline)
        return;
    if (m_pipeline->sinceSync > 0) {
        if (!PQpipelineSync(m_conn))
            loseConnection();
        m_pipeline->awaited.push_back({Awaited::Kind::Sync});
    }
    pump(true);
    Pipeline pipeline = std::move(*m_pipeline);
    m_pipeline.reset();
    if (!PQexitPipelineMode(m_conn) || PQsetnonblocking(m_conn, 0) != 0)
        loseConnection();
    if (!pipeline.refused)
        return;
    const size_t refused = *pipeline.refused;
    // The server holds none of the transaction now (a refusal aborts it) or holds posts after
    // the refused one (a row gone refuses nothing on the server): it starts again with exactly
    // the posts before it.
    exec(QStringLiteral("ROLLBACK"));
    beginTransaction();
    if (refused > 0) {
        startPipeline();
        for (size_t i = 0; i < refused; ++i) {
            m_pipeline->posts.push_back(std::move(pipeline.posts[i]));
            send(i);
            pump(false);
        }
        settle(); // a refusal now names an earlier post
    }
    throw RefusedPost(pipeline.refusal, pipeline.posts[refused].key, pipeline.changedElsewhere);
}
