#include "Postgres.h"

#include "RegisterSchema.h"

#include "Error.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string_view>

#include <poll.h>

namespace {

// The server's types the program reads (pg_type.oid).
enum TypeOid : unsigned {
    BoolOid = 16,
    ByteaOid = 17,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    BpcharOid = 1042,
    VarcharOid = 1043,
    NumericOid = 1700,
    DateOid = 1082,
    TimestampOid = 1114,
};

bool isInteger(unsigned type)
{
    return type == Int2Oid || type == Int4Oid || type == Int8Oid || type == OidOid;
}

bool isReal(unsigned type)
{
    return type == Float4Oid || type == Float8Oid || type == NumericOid;
}

QString quoteIdentifier(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

// One row of a result lent to a reader, its columns counted from `first`.
class PgCells final : public RowCells
{
public:
    PgCells(const PgResult &result, const std::vector<unsigned> &types, int first)
        : m_result(result.get()), m_types(types), m_first(first)
    {}
    void setRow(int row) { m_row = row; }

    Kind kind(int column) const override
    {
        if (PQgetisnull(m_result, m_row, column + m_first))
            return Kind::Null;
        const unsigned type = m_types[static_cast<size_t>(column)];
        return isInteger(type) || type == ByteaOid ? Kind::Integer
               : isReal(type)                      ? Kind::Real
                                                   : Kind::Text;
    }
    qint64 integer(int column) const override
    {
        // Binary data is lent as its size: the server sends it as "\x" and two hex digits a byte.
        if (m_types[static_cast<size_t>(column)] == ByteaOid)
            return std::max<qint64>(0, (qint64(utf8(column).size()) - 2) / 2);
        const std::string_view text = utf8(column);
        qint64 value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
    }
    double real(int column) const override
    {
        // The server writes numbers with a full stop whatever the program's locale.
        const std::string_view text = utf8(column);
        double value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
    }
    std::string_view utf8(int column) const override
    {
        return {PQgetvalue(m_result, m_row, column + m_first),
                static_cast<size_t>(PQgetlength(m_result, m_row, column + m_first))};
    }

private:
    const pg_result *m_result;
    const std::vector<unsigned> &m_types;
    int m_first;
    int m_row = 0;
};

// A row's physical place, "(block,offset)", as a key and back.
qint64 placeKey(const QString &text)
{
    const QStringList parts =
        QString(text).remove(QLatin1Char('(')).remove(QLatin1Char(')')).split(QLatin1Char(','));
    return parts.size() == 2 ? (parts[0].toLongLong() << 16) | parts[1].toLongLong() : 0;
}

QString placeText(qint64 key)
{
    return QStringLiteral("(%1,%2)").arg(key >> 16).arg(key & 0xFFFF);
}

} // namespace

// --- PgResult ----------------------------------------------------------------------------------

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
        const Value &value = values[i];
        if (const auto *integer = std::get_if<qint64>(&value))
            texts[i] = QByteArray::number(*integer);
        else if (const auto *real = std::get_if<double>(&value))
            texts[i] = QByteArray::number(*real, 'g', 17);
        else if (const auto *text = std::get_if<QString>(&value))
            texts[i] = text->toUtf8();
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

// --- reading in pieces -------------------------------------------------------------------------

namespace {

// Rows fetched at a time: few round trips, and little held beside the record set.
constexpr int rowsPerPiece = 4096;

} // namespace

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

// --- bulk copy ---------------------------------------------------------------------------------

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
        const Value &value = row[i];
        if (const auto *integer = std::get_if<qint64>(&value))
            m_copyBuffer.append(QByteArray::number(*integer));
        else if (const auto *real = std::get_if<double>(&value))
            m_copyBuffer.append(QByteArray::number(*real, 'g', 17));
        else if (const auto *text = std::get_if<QString>(&value))
            appendCopyText(m_copyBuffer, text->toUtf8());
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

// --- the pipeline ------------------------------------------------------------------------------

namespace {

// Posts between two sync points: the server's answers to them come back together, and a refused
// one aborts the rest of its group, which is sent again only up to the refused post.
constexpr int postsPerSync = 256;

} // namespace

void PgConnection::loseConnection(const pg_result *result)
{
    const bool lostTransaction = m_inTransaction;
    m_pipeline.reset();
    m_inTransaction = false;
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const bool administrator = state && qstrncmp(state, "57P0", 4) == 0;
    const char *primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const QString detail = libpqDetail(primary ? primary : PQerrorMessage(m_conn));
    PQfinish(m_conn);
    m_conn = nullptr; // the next statement connects again
    fail(QStringLiteral("%1%2. Повторите действие%3: программа подключится снова"
                        "\nСообщение сервера: %4")
             .arg(administrator
                      ? QStringLiteral("сервер остановлен или перезапущен администратором")
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
    const quint64 transaction =
        exec(QStringLiteral("SELECT pg_current_xact_id()::xid::text")).text(0, 0).toULongLong();
    if (!PQenterPipelineMode(m_conn) || PQsetnonblocking(m_conn, 1) != 0)
        fail(QString::fromUtf8(PQerrorMessage(m_conn)).trimmed());
    m_pipeline.emplace();
    m_pipeline->transaction = transaction;
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
        if (unsent == 0 && (!drain || m_pipeline->awaited.empty()))
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
    exec(QStringLiteral("BEGIN"));
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

// --- PgRowSource -------------------------------------------------------------------------------

namespace {

// The catalogue's description of the tables an array names: one row per column (or one with nulls
// for a table that is not there), in the columns PgTable::read takes.
QString catalogueSql(const QString &tables)
{
    return QStringLiteral(
               "SELECT t.name, to_regclass(t.name)::text, a.attnum, a.attname, a.atttypid::int, "
               "coalesce(a.attnum = ANY(i.indkey), false), "
               "substring(col_description(a.attrelid, a.attnum) from '^знаков: (\\d+)$') "
               "FROM unnest(%1) AS t(name) "
               "LEFT JOIN pg_attribute a ON a.attrelid = to_regclass(t.name) "
               "AND a.attnum > 0 AND NOT a.attisdropped "
               "LEFT JOIN pg_index i ON i.indrelid = a.attrelid AND i.indisprimary")
        .arg(tables);
}

} // namespace

std::map<QString, PgTable> PgTable::read(const PgResult &columns)
{
    std::map<QString, PgTable> tables;
    std::map<QString, int> keyColumns;
    for (int row = 0; row < columns.rows(); ++row) {
        PgTable &found = tables[columns.text(row, 0)];
        if (columns.isNull(row, 1) || columns.isNull(row, 2))
            continue;
        found.sqlName = columns.text(row, 1);
        const int number = columns.text(row, 2).toInt();
        found.names[number] = columns.text(row, 3);
        if (columns.text(row, 5) == QLatin1String("t")) {
            ++keyColumns[columns.text(row, 0)];
            if (isInteger(columns.text(row, 4).toUInt())) {
                found.key = columns.text(row, 3);
                found.keyNumber = number;
            }
        }
        if (!columns.isNull(row, 6))
            found.sizes[number] = columns.text(row, 6).toInt();
    }
    for (auto &[name, table] : tables) {
        if (keyColumns[name] != 1)
            table.key.clear();
    }
    return tables;
}

PgTable PgTable::read(PgConnection &db, const QString &table)
{
    std::map<QString, PgTable> found =
        read(db.exec(catalogueSql(QStringLiteral("ARRAY[$1::text]")), {Value(table)}));
    return std::move(found[table]);
}

QString PgTable::select(const QString &after) const
{
    // Rows in the key's order, as the file gives them: the server moves a changed row. Each row
    // comes with its version, which every change of the row changes.
    if (key.isEmpty())
        return QStringLiteral("SELECT ctid::text, *, xmin::text FROM %1").arg(sqlName);
    const QString keyColumn = quoteIdentifier(key);
    return QStringLiteral("SELECT %2, *, xmin::text FROM %1%3 ORDER BY %2")
        .arg(sqlName, keyColumn,
             after.isEmpty() ? QString() : QStringLiteral(" WHERE %1 > %2").arg(keyColumn, after));
}

QString PgTable::firstRowsSql() const
{
    return select() + QStringLiteral(" LIMIT %1").arg(rowsPerPiece);
}

PgRowSource::PgRowSource(PgConnection &db, QString selectSql, bool readOnly)
    : m_db(&db), m_selectSql(std::move(selectSql)), m_readOnly(readOnly)
{}

std::unique_ptr<PgRowSource> PgRowSource::forTable(PgConnection &db, const QString &table,
                                                   bool readOnly, PgTable known)
{
    // The table as the server names it, folding an unquoted name as a statement would.
    PgTable catalogue = known.sqlName.isEmpty() ? PgTable::read(db, table) : std::move(known);
    if (catalogue.sqlName.isEmpty()) {
        throw Error(QStringLiteral("В базе данных нет таблицы %1 реестра (%2); реестр на сервере "
                                   "создаёт команда reestr-db init --server")
                        .arg(table, db.where()));
    }
    std::unique_ptr<PgRowSource> source(new PgRowSource(db, catalogue.select(), readOnly));
    source->m_table = catalogue.sqlName;
    source->m_keyColumn = catalogue.key.isEmpty() ? QString() : quoteIdentifier(catalogue.key);
    source->m_keyIndex = 0;
    source->m_dataOffset = 1;
    source->m_versioned = true;
    // A table shows its first rows at once: they are read now, with its description.
    if (!catalogue.firstRows)
        catalogue.firstRows = db.exec(catalogue.firstRowsSql());
    source->describe(*catalogue.firstRows, 1);
    source->m_firstRows = std::move(catalogue.firstRows);
    source->m_catalogue = std::move(catalogue);
    for (SourceColumn &column : source->m_columns) {
        column.origin = column.name;
        if (!source->m_catalogue.key.isEmpty() && column.name == source->m_catalogue.key)
            column.readOnly = true; // numbered by the server
        for (const auto &[number, size] : source->m_catalogue.sizes) {
            if (source->m_catalogue.names.at(number) == column.name)
                column.size = size;
        }
    }
    return source;
}

std::unique_ptr<PgRowSource> PgRowSource::forQuery(PgConnection &db, const QString &sql,
                                                   bool readOnly)
{
    std::unique_ptr<PgRowSource> source(new PgRowSource(db, sql, readOnly));
    // The statement runs here to learn its columns; a wrong text fails now, as on the file.
    QString body = sql.trimmed();
    if (body.endsWith(QLatin1Char(';')))
        body.chop(1);
    // In a transaction that may only read: a select never changes data, whatever its text.
    const bool own = !db.inTransaction();
    if (own)
        db.exec(QStringLiteral("BEGIN READ ONLY"));
    PgResult shape;
    try {
        shape = db.exec(QStringLiteral("SELECT * FROM (%1) AS result LIMIT 0").arg(body));
    } catch (const Error &) {
        if (own)
            db.rollbackTransaction();
        throw;
    }
    if (own)
        db.exec(QStringLiteral("COMMIT"));
    source->describe(shape, 0);

    // Editable only when every column that comes from a table comes from the same one, and that
    // table's key is among them.
    unsigned table = 0;
    bool oneTable = true;
    for (int i = 0; i < shape.columns(); ++i) {
        const unsigned from = PQftable(shape.get(), i);
        if (from == 0)
            continue;
        if (table == 0)
            table = from;
        else if (from != table)
            oneTable = false;
    }
    for (SourceColumn &column : source->m_columns)
        column.readOnly = true;
    if (table == 0 || !oneTable)
        return source;
    const Value tableOid(static_cast<qint64>(table));
    const PgResult named = db.exec(QStringLiteral("SELECT $1::oid::regclass::text"), {tableOid});
    const PgTable catalogue = PgTable::read(db, named.text(0, 0));
    for (int i = 0; i < shape.columns(); ++i) {
        SourceColumn &column = source->m_columns[static_cast<size_t>(i)];
        if (PQftable(shape.get(), i) != table)
            continue;
        const int number = PQftablecol(shape.get(), i);
        if (const auto name = catalogue.names.find(number); name != catalogue.names.end())
            column.origin = name->second;
        if (const auto size = catalogue.sizes.find(number); size != catalogue.sizes.end())
            column.size = size->second;
        column.readOnly = column.origin.isEmpty();
        if (!catalogue.key.isEmpty() && number == catalogue.keyNumber) {
            column.readOnly = true;
            if (source->m_keyIndex < 0)
                source->m_keyIndex = i;
        }
    }
    if (source->m_keyIndex >= 0) {
        source->m_table = named.text(0, 0);
        source->m_keyColumn = quoteIdentifier(catalogue.key);
        // Each row with its version, read in the same statement and so of the same moment.
        source->m_versioned = true;
        source->m_selectSql =
            QStringLiteral("SELECT result.*, (SELECT xmin::text FROM %1 WHERE %2 = result.%3) "
                           "FROM (%4) AS result")
                .arg(source->m_table, source->m_keyColumn,
                     quoteIdentifier(source->m_columns[size_t(source->m_keyIndex)].name), body);
    }
    return source;
}

void PgRowSource::describe(const PgResult &result, int first)
{
    m_columns.clear();
    m_types.clear();
    const int end = result.columns() - (m_versioned ? 1 : 0);
    for (int i = first; i < end; ++i) {
        SourceColumn &column = m_columns.emplace_back();
        column.name = QString::fromUtf8(PQfname(result.get(), i));
        const unsigned type = PQftype(result.get(), i);
        const int modifier = PQfmod(result.get(), i);
        m_types.push_back(type);
        if (type == Int2Oid)
            column.type = FieldType::Int16;
        else if (isInteger(type))
            column.type = FieldType::Int32;
        else if (isReal(type))
            column.type = FieldType::Double;
        else if (type == DateOid || type == TimestampOid)
            column.type = FieldType::Date;
        else if (type == ByteaOid)
            column.type = FieldType::Blob;
        else if ((type == VarcharOid || type == BpcharOid) && modifier >= 4)
            column.size = modifier - 4; // the declared length and four bytes of header
    }
}

QString PgRowSource::versionCondition(int parameter) const
{
    return m_versioned ? QStringLiteral(" AND xmin = $%1::xid").arg(parameter) : QString();
}

QString PgRowSource::keyCondition(int parameter) const
{
    return m_keyColumn.isEmpty() ? QStringLiteral("ctid = $%1::tid").arg(parameter)
                                 : QStringLiteral("%1 = $%2").arg(m_keyColumn).arg(parameter);
}

Value PgRowSource::keyParameter(qint64 key) const
{
    return m_keyColumn.isEmpty() ? Value(placeText(key)) : Value(key);
}

namespace {

// A whole number of a result, read where it lies: every row has its key and version.
template <typename Number> Number numberAt(const PgResult &result, int row, int column)
{
    const char *text = PQgetvalue(result.get(), row, column);
    Number value = 0;
    std::from_chars(text, text + PQgetlength(result.get(), row, column), value);
    return value;
}

} // namespace

qint64 PgRowSource::keyOf(const PgResult &result, int row, int column) const
{
    if (column < 0 || result.isNull(row, column))
        return 0;
    if (m_keyColumn.isEmpty())
        return placeKey(result.text(row, column));
    return numberAt<qint64>(result, row, column);
}

RowId PgRowSource::idOf(const PgResult &result, int row, int keyColumn) const
{
    const int version = result.columns() - 1;
    return {keyOf(result, row, keyColumn), m_versioned && !result.isNull(row, version)
                                               ? numberAt<quint64>(result, row, version)
                                               : 0};
}

QString PgRowSource::selectList() const
{
    QStringList select;
    if (m_dataOffset > 0)
        select << (m_keyColumn.isEmpty() ? QStringLiteral("ctid::text") : m_keyColumn);
    for (const SourceColumn &column : m_columns)
        select << (column.origin.isEmpty() ? QStringLiteral("NULL")
                                           : quoteIdentifier(column.origin));
    if (m_versioned)
        select << QStringLiteral("xmin::text");
    return select.join(QStringLiteral(", "));
}

void PgRowSource::readAll(const RowReader &reader)
{
    const auto readPiece = [&](const PgResult &result) {
        PgCells cells(result, m_types, m_dataOffset);
        for (int row = 0; row < result.rows(); ++row) {
            cells.setRow(row);
            reader(cells, idOf(result, row, m_keyIndex));
        }
    };
    if (m_catalogue.sqlName.isEmpty()) {
        m_db->readInPieces(m_selectSql, readPiece);
        return;
    }
    // A table: its first rows in one statement (most tables end there); the rest, through a
    // cursor, after the last of them by the key, or without a key all anew.
    const PgResult first =
        m_firstRows ? std::move(*m_firstRows) : m_db->exec(m_catalogue.firstRowsSql());
    m_firstRows.reset();
    if (first.rows() < rowsPerPiece || !m_catalogue.key.isEmpty())
        readPiece(first);
    if (first.rows() < rowsPerPiece)
        return;
    if (m_catalogue.key.isEmpty())
        m_db->readInPieces(m_selectSql, readPiece);
    else
        m_db->readInPieces(m_catalogue.select(QString::number(keyOf(first, first.rows() - 1, 0))),
                           readPiece);
}

bool PgRowSource::fetch(qint64 key, const RowReader &reader)
{
    if (m_table.isEmpty())
        return false;
    const PgResult result = m_db->exec(
        QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(selectList(), m_table, keyCondition(1)),
        {keyParameter(key)});
    if (result.rows() == 0)
        return false;
    PgCells cells(result, m_types, m_dataOffset);
    reader(cells, idOf(result, 0, m_dataOffset > 0 ? 0 : m_keyIndex));
    return true;
}

RowId PgRowSource::update(const RowId &id, const RowCells &, const std::vector<int> &columns,
                          const std::vector<Value> &values)
{
    if (columns.empty())
        return id;
    // A walk writes the same columns each time: the statement is made once for them.
    const int keyAt = static_cast<int>(columns.size()) + 1;
    if (columns != m_updated.columns) {
        QStringList assignments;
        int parameter = 1;
        for (int column : columns) {
            assignments << QStringLiteral("%1 = $%2")
                               .arg(quoteIdentifier(m_columns[static_cast<size_t>(column)].origin))
                               .arg(parameter++);
        }
        // Only the row as read is written: the key finds it, its version tells it is unchanged.
        m_updated = {columns, QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                  .arg(m_table, assignments.join(QStringLiteral(", ")),
                                       keyCondition(keyAt) + versionCondition(keyAt + 1))};
    }
    std::vector<Value> parameters = values;
    parameters.push_back(keyParameter(id.key));
    if (m_versioned)
        parameters.push_back(Value(QString::number(id.version)));
    if (m_db->pipelining() && !m_keyColumn.isEmpty()) {
        // The key stays what it was; the answer is checked when it comes.
        m_db->post(m_updated.sql, parameters, id.key);
        return {id.key, m_db->pipelineTransaction()};
    }
    const PgResult result =
        m_db->exec(m_updated.sql +
                       QStringLiteral(" RETURNING %1, xmin::text")
                           .arg(m_keyColumn.isEmpty() ? QStringLiteral("ctid::text") : m_keyColumn),
                   parameters);
    if (result.rows() == 0)
        throw RowChangedElsewhere();
    return {keyOf(result, 0, 0), numberAt<quint64>(result, 0, 1)};
}

qint64 PgRowSource::insert(const std::vector<int> &columns, const std::vector<Value> &values)
{
    const QString returning = m_keyColumn.isEmpty() ? QStringLiteral("ctid::text") : m_keyColumn;
    QString sql;
    if (columns.empty()) {
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES RETURNING %2").arg(m_table, returning);
    } else {
        QStringList names;
        QStringList marks;
        for (size_t i = 0; i < columns.size(); ++i) {
            names << quoteIdentifier(m_columns[static_cast<size_t>(columns[i])].origin);
            marks << QStringLiteral("$%1").arg(i + 1);
        }
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING %4")
                  .arg(m_table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")),
                       returning);
    }
    const PgResult result = m_db->exec(sql, values);
    return keyOf(result, 0, 0);
}

void PgRowSource::remove(const RowId &id, const RowCells &)
{
    std::vector<Value> parameters = {keyParameter(id.key)};
    if (m_versioned)
        parameters.push_back(Value(QString::number(id.version)));
    const PgResult result = m_db->exec(QStringLiteral("DELETE FROM %1 WHERE %2%3")
                                           .arg(m_table, keyCondition(1), versionCondition(2)),
                                       parameters);
    if (qstrcmp(PQcmdTuples(result.get()), "0") == 0)
        throw RowChangedElsewhere();
}

void PostgresEngine::beginSnapshot()
{
    m_db.beginSnapshot();
    // The first rows start-up read are not of the snapshot: its tables are read anew in it.
    for (auto &[name, table] : m_tables)
        table.firstRows.reset();
}

void PostgresEngine::takeTable(const QString &table)
{
    // Others may read it meanwhile; their writes and their own such transactions wait.
    const PgResult named = m_db.exec(QStringLiteral("SELECT to_regclass($1)::text"), {table});
    m_db.exec(QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(named.text(0, 0)));
}

// --- PostgresEngine ----------------------------------------------------------------------------

PostgresEngine::PostgresEngine(const QString &conninfo, const ServerAccess &access)
    : m_db(conninfo, access)
{
    // What every start needs, in two round trips: whether the role may change the register's
    // people and what its tables are; then the first rows of each.
    QStringList names;
    for (const RegisterSchema::Table &table : RegisterSchema::tables())
        names << QLatin1Char('\'') + table.qName() + QLatin1Char('\'');
    const std::vector<PgResult> first = m_db.execTogether(
        {QStringLiteral("SELECT coalesce(has_table_privilege(t, 'INSERT') AND "
                        "has_table_privilege(t, 'UPDATE') AND has_table_privilege(t, 'DELETE'), "
                        "true) FROM (SELECT to_regclass('Main') AS t) s"),
         catalogueSql(QStringLiteral("ARRAY[%1]").arg(names.join(QLatin1Char(','))))});
    m_readOnly = first[0].text(0, 0) != QLatin1String("t");
    m_tables = PgTable::read(first[1]);
    std::vector<QString> firstRows;
    std::vector<PgTable *> asked;
    for (auto &[name, table] : m_tables) {
        if (!table.sqlName.isEmpty()) {
            firstRows.push_back(table.firstRowsSql());
            asked.push_back(&table);
        }
    }
    std::vector<PgResult> rows = m_db.execTogether(firstRows);
    for (size_t i = 0; i < asked.size(); ++i)
        asked[i]->firstRows = std::move(rows[i]);
}

std::unique_ptr<RowSource> PostgresEngine::table(const QString &name)
{
    // A register table opens on what start-up read of it, once; later it is read anew.
    const auto known = m_tables.find(name);
    if (known == m_tables.end())
        return PgRowSource::forTable(m_db, name, m_readOnly);
    PgTable table = std::move(known->second);
    m_tables.erase(known);
    return PgRowSource::forTable(m_db, name, m_readOnly, std::move(table));
}

std::unique_ptr<RowSource> PostgresEngine::query(const QString &sql)
{
    return PgRowSource::forQuery(m_db, sql, m_readOnly);
}
