// Reaching the server: connecting without blocking, the password asked of the person, every wait
// limited, and the server's refusals in the person's words.
#include "engines/postgres/PgConnection.h"

#include "engines/EngineErrors.h"

#include <QRegularExpression>
#include <QStringList>

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

using namespace std::chrono_literals;

namespace {

// The server options of a connection string (or of PGOPTIONS), with the program's limit on any
// wait for another computer's lock added, and a check for a client gone while its statement
// waits (for a lock, say), so that the server does not keep it waiting for nobody.
QByteArray optionsWithLockTimeout(const QByteArray &conninfo, int lockWaitSeconds)
{
    QByteArray options = qgetenv("PGOPTIONS");
    if (PQconninfoOption *parsed = PQconninfoParse(conninfo.constData(), nullptr)) {
        for (PQconninfoOption *option = parsed; option->keyword; ++option) {
            if (qstrcmp(option->keyword, "options") == 0 && option->val)
                options = option->val;
        }
        PQconninfoFree(parsed);
    }
    return options + " -c lock_timeout=" + QByteArray::number(lockWaitSeconds * 1000) +
           " -c client_connection_check_interval=2000";
}

// The SQLSTATE of a failed connection's message, which a verbose connection puts before its
// text ("... failed: FATAL:  3D000: database ... does not exist"); empty when there is none.
QByteArray connectionState(const char *message)
{
    static const QRegularExpression state(QStringLiteral(":\\s+([0-9][0-9A-Z]{4}):\\s"));
    return state.match(QString::fromUtf8(message)).captured(1).toLatin1();
}

// A failed connection's message without its SQLSTATE and the source location a verbose one adds.
QString connectionDetail(const char *message)
{
    static const QRegularExpression code(QStringLiteral("\\b[0-9][0-9A-Z]{4}:\\s"));
    QStringList lines;
    for (const QString &line : QString::fromUtf8(message).split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("LOCATION:")))
            lines << line;
    }
    return libpqDetail(lines.join(QLatin1Char('\n')).replace(code, QString()).toUtf8().constData());
}

// How many times a wrong password is asked for again before the program gives up.
constexpr int passwordQuestions = 5;

// Starts connecting without waiting. Keepalives and the TCP limit come first, so that the
// connection string may set its own; a network that goes silent is noticed in well under a minute
// either way. The change log names the computer a change came from by reestr.computer.
pg_conn *startConnecting(const QByteArray &conninfo, const std::optional<QString> &password,
                         std::chrono::seconds answerLimit, int lockWaitSeconds)
{
    const QByteArray secret = password ? password->toUtf8() : QByteArray();
    const QByteArray options =
        optionsWithLockTimeout(conninfo, lockWaitSeconds) +
        " -c reestr.computer=" + thisComputer().toUtf8().replace('\\', "\\\\").replace(' ', "\\ ");
    const QByteArray userTimeout = QByteArray::number(qint64(answerLimit.count()) * 1000);
    const char *keywords[] = {"keepalives",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "dbname",
                              "password",
                              "client_encoding",
                              "application_name",
                              "options",
                              nullptr};
    const char *values[] = {"1",
                            "10",
                            "5",
                            "3",
                            userTimeout.constData(),
                            conninfo.constData(),
                            password ? secret.constData() : nullptr,
                            "UTF8",
                            "reestr",
                            options.constData(),
                            nullptr};
    pg_conn *conn = PQconnectStartParams(keywords, values, 1);
    if (!conn)
        throw Error(QStringLiteral("Нет памяти для соединения с сервером баз данных"));
    // A refused connection's message then carries its SQLSTATE.
    PQsetErrorVerbosity(conn, PQERRORS_VERBOSE);
    return conn;
}

// The server and database a connection reaches, for messages.
QString whereOf(pg_conn *conn)
{
    const QString host = QString::fromUtf8(PQhost(conn));
    return QStringLiteral("сервер «%1:%2», база данных «%3»")
        .arg(host.isEmpty() || host.startsWith(QLatin1Char('/')) ? QStringLiteral("localhost")
                                                                 : host,
             QString::fromUtf8(PQport(conn)), QString::fromUtf8(PQdb(conn)));
}

} // namespace

bool conninfoHasPassword(const QString &conninfo)
{
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), nullptr);
    if (!options)
        return false;
    bool has = false;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            has = true;
    }
    PQconninfoFree(options);
    return has;
}

PgConnection::PgConnection(const QString &conninfo, ServerAccess access)
    : m_conninfo(conninfo), m_access(std::move(access))
{
    open();
}

PgConnection::PgConnection(const QString &conninfo, const PasswordPrompt &prompt)
    : PgConnection(conninfo, [&prompt] {
          ServerAccess access;
          access.prompt = prompt;
          return access;
      }())
{}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

void PgConnection::open()
{
    std::optional<QString> password = m_access.password;
    for (int asked = 0;; ++asked) {
        m_password = password;
        connect();
        if (PQstatus(m_conn) == CONNECTION_OK)
            return;
        // A password the server wants and no file gave, or one it refused: the person is asked,
        // never the command line or the settings. A database or role that is not there is
        // refused after the password was taken, and no password helps it.
        const QByteArray state = connectionState(PQerrorMessage(m_conn));
        const bool needed = !m_timedOut && PQconnectionNeedsPassword(m_conn);
        const bool refused = !m_timedOut && !needed && PQconnectionUsedPassword(m_conn) &&
                             (state.isEmpty() || state == "28P01");
        if (!(needed || refused) || !m_access.prompt || asked == passwordQuestions)
            break;
        const QString role = QString::fromUtf8(PQuser(m_conn));
        QString question = QStringLiteral("Пароль роли «%1» (%2):").arg(role, m_where);
        if (refused && password)
            question = QStringLiteral("Неверный пароль. Введите его ещё раз.\n") + question;
        else if (refused)
            question = QStringLiteral("Сервер не принял сохранённый пароль (файл ~/.pgpass). "
                                      "Введите пароль.\n") +
                       question;
        password = m_access.prompt(question);
        if (!password || password->isEmpty()) {
            PQfinish(m_conn);
            m_conn = nullptr;
            throw PasswordDeclined(
                QStringLiteral("Нет связи с сервером баз данных (%1): пароль роли «%2» не введён. "
                               "Чтобы открыть реестр, запустите программу снова и введите пароль")
                    .arg(m_where, role));
        }
    }
    const QString reason = connectionFailure();
    PQfinish(m_conn);
    m_conn = nullptr;
    if (std::exchange(m_cancelled, false))
        throw WaitCancelled(
            QStringLiteral("Нет связи с сервером баз данных (%1): %2").arg(m_where, reason));
    if (m_timedOut)
        throw ServerSilent(
            QStringLiteral("Нет связи с сервером баз данных (%1): %2").arg(m_where, reason));
    fail(reason);
}

void PgConnection::connect()
{
    ++m_connections;
    PQfinish(m_conn);
    m_conn = nullptr;
    m_inTransaction = false;
    m_transaction = 0;
    m_prepared.clear();
    m_connected = false;
    m_timedOut = false;
    // A wait for another computer's lock ends well within the answer limit, so that it is
    // reported as the lock it is and not as a silent network.
    m_lockWaitSeconds = std::clamp(int(m_access.answerLimit.count() * 2 / 3), 1, lockWaitSeconds);
    m_conn =
        startConnecting(m_conninfo.toUtf8(), m_password, m_access.answerLimit, m_lockWaitSeconds);
    m_where = whereOf(m_conn);
    // Connecting without blocking, so that a host that never answers costs the answer limit and
    // no more.
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    while (PQstatus(m_conn) != CONNECTION_BAD && polling != PGRES_POLLING_OK &&
           polling != PGRES_POLLING_FAILED) {
        if (!await(polling == PGRES_POLLING_READING ? POLLIN : POLLOUT, true)) {
            m_timedOut = true;
            break;
        }
        polling = PQconnectPoll(m_conn);
        const ConnStatusType status = PQstatus(m_conn);
        if (status != CONNECTION_STARTED && status != CONNECTION_BAD)
            m_connected = true;
    }
    m_where = whereOf(m_conn);
    PQsetErrorVerbosity(m_conn, PQERRORS_DEFAULT);
    // The server's notices (a warning, say) are not the program's to print.
    PQsetNoticeProcessor(
        m_conn, [](void *, const char *) {}, nullptr);
}

QString PgConnection::connectionFailure() const
{
    const QString role = QString::fromUtf8(PQuser(m_conn));
    const QString detail =
        QStringLiteral("\nСообщение сервера: ") + connectionDetail(PQerrorMessage(m_conn));
    const QByteArray state = connectionState(PQerrorMessage(m_conn));
    if (m_cancelled)
        return QStringLiteral("подключение отменено. Повторите действие, когда сервер будет "
                              "доступен");
    if (state == "3D000") {
        return QStringLiteral("на сервере нет базы данных «%1». Проверьте её имя (его даёт "
                              "администратор сервера)")
                   .arg(QString::fromUtf8(PQdb(m_conn))) +
               detail;
    }
    if (state == "28000" && QString::fromUtf8(PQerrorMessage(m_conn)).contains(role)) {
        return QStringLiteral("на сервере нет роли «%1» или ей не разрешено подключаться. "
                              "Проверьте имя роли (его даёт администратор сервера)")
                   .arg(role) +
               detail;
    }
    if (m_timedOut) {
        return QStringLiteral("сервер не ответил за %1 с. Проверьте сеть (и VPN) и адрес сервера "
                              "и запустите программу снова")
            .arg(m_access.answerLimit.count());
    }
    if (PQconnectionNeedsPassword(m_conn)) {
        return QStringLiteral("сервер требует пароль роли «%1». Введите его, когда программа "
                              "спросит, или запишите его в файл ~/.pgpass")
            .arg(role);
    }
    if (PQconnectionUsedPassword(m_conn)) {
        return QStringLiteral("сервер не принял пароль роли «%1». Проверьте имя роли и пароль "
                              "(и файл ~/.pgpass); их даёт администратор сервера")
                   .arg(role) +
               detail;
    }
    if (!m_connected) {
        return QStringLiteral("по этому адресу и порту сервер не отвечает. Проверьте адрес и "
                              "порт, включён ли компьютер-сервер и запущен ли на нём PostgreSQL") +
               detail;
    }
    return QStringLiteral("сервер отказал в соединении. Проверьте имя базы данных и роль; если "
                          "не поможет, обратитесь к администратору сервера") +
           detail;
}

bool PgConnection::await(short events, bool connecting)
{
    const int socket = PQsocket(m_conn);
    if (socket < 0)
        return true; // libpq reports what became of the connection
    const auto start = Clock::now();
    Wait wait{m_where, Wait::For::Connecting, 0ms, m_access.answerLimit};
    bool told = false;
    const auto endWait = [&](bool answered) {
        if (told && m_access.waiting) {
            wait.waited = 0ms;
            m_access.waiting(wait);
        }
        return answered;
    };
    for (;;) {
        wait.waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (wait.waited >= m_access.answerLimit)
            return endWait(false);
        pollfd ready{socket, events, 0};
        const auto slice =
            std::min<std::chrono::milliseconds>(m_access.answerLimit - wait.waited, 100ms);
        const int found = poll(&ready, 1, int(slice.count()));
        if (found > 0 || (found < 0 && errno != EINTR))
            return endWait(true);
        if (m_access.waiting && wait.waited >= 100ms) {
            told = true;
            // What was sent and is still unacknowledged has not reached the server: the network
            // holds it. All of it taken, the server has the statement and works on it or waits,
            // mostly for another computer's lock.
            int unacknowledged = 0;
            if (!connecting)
                wait.what = ioctl(socket, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0
                                ? Wait::For::Server
                                : Wait::For::Answer;
            // A lock is given up sooner than the answer.
            wait.limit = wait.what == Wait::For::Server
                             ? std::min<std::chrono::milliseconds>(
                                   m_access.answerLimit, std::chrono::seconds(m_lockWaitSeconds))
                             : std::chrono::milliseconds(m_access.answerLimit);
            if (!m_access.waiting(wait)) {
                m_cancelled = true;
                return endWait(false);
            }
        }
    }
}

PgResult PgConnection::nextResult()
{
    while (PQisBusy(m_conn)) {
        if (!await(POLLIN))
            timedOut();
        if (!PQconsumeInput(m_conn))
            break; // the connection failed: the result says how
    }
    return PgResult(PQgetResult(m_conn));
}

int PgConnection::backendPid() const
{
    return m_conn ? PQbackendPID(m_conn) : 0;
}

void PgConnection::listen(bool sentAlready)
{
    if (!sentAlready)
        exec(QStringLiteral("LISTEN reestr"));
    m_listening = true;
    m_listeningOn = m_connections;
}

int PgConnection::listeningSocket() const
{
    return m_listening && m_conn ? PQsocket(m_conn) : -1;
}

std::vector<PgConnection::Notice> PgConnection::notices(bool &lost)
{
    std::vector<Notice> heard;
    if (!m_listening || !m_conn || m_inTransaction || m_pipeline || PQisBusy(m_conn))
        return heard;
    if (m_listeningOn != m_connections) {
        // A connection made again: whatever was notified meanwhile went unheard.
        listen();
        lost = true;
    }
    if (!PQconsumeInput(m_conn) || PQstatus(m_conn) != CONNECTION_OK) {
        // The server closed it (a restart): the next statement connects again.
        dropConnection();
        return heard;
    }
    while (PGnotify *notice = PQnotifies(m_conn)) {
        heard.push_back({notice->be_pid, QString::fromUtf8(notice->extra)});
        PQfreemem(notice);
    }
    return heard;
}

void PgConnection::dropConnection()
{
    if (m_conn && m_transaction)
        m_abandoned = Abandoned{PQbackendPID(m_conn), m_transaction};
    m_pipeline.reset();
    m_inTransaction = false;
    m_transaction = 0;
    // Closed at once, whatever is still unsent dropped: a statement held up on the way must not
    // reach the server after the program gave it up.
    if (const int socket = m_conn ? PQsocket(m_conn) : -1; socket >= 0) {
        const linger abort{1, 0};
        setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        PQsetnonblocking(m_conn, 1);
    }
    PQfinish(m_conn);
    m_conn = nullptr; // the next statement connects anew
}

void PgConnection::timedOut()
{
    const bool lostTransaction = m_inTransaction;
    dropConnection();
    if (std::exchange(m_cancelled, false))
        throw WaitCancelled(
            QStringLiteral("Ожидание сервера баз данных (%1) отменено%2. Повторите "
                           "действие, когда сервер или другой компьютер освободится")
                .arg(m_where,
                     lostTransaction ? QStringLiteral(", начатое изменение отменено") : QString()));
    throw ServerSilent(
        QStringLiteral("Нет связи с сервером баз данных (%1): сервер не ответил за %2 с%3. "
                       "Проверьте сеть (и VPN) и повторите действие; программа подключится снова")
            .arg(m_where)
            .arg(m_access.answerLimit.count())
            .arg(lostTransaction ? QStringLiteral(", начатое изменение отменено") : QString()));
}

void PgConnection::fail(const QString &reason) const
{
    throw Error(QStringLiteral("Нет связи с сервером баз данных (%1): %2").arg(m_where, reason));
}

QString PgConnection::refusal(const pg_result *result) const
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QByteArray code(state ? state : "");
    // A wait for another computer's lock that ran out, or a deadlock with one.
    if (code == "55P03" || code == "40P01")
        return RegisterBusy(m_lockWaitSeconds).message();
    // A register made before its texts were counted as the program counts them.
    if (code == "22001")
        return QStringLiteral("Текст длиннее, чем принимает столбец реестра на сервере. Реестр "
                              "нужно обновить командой reestr-db upgrade --server");
    const char *primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const QString detail = QStringLiteral("\nСообщение сервера: ") +
                           libpqDetail(primary ? primary : PQerrorMessage(m_conn));
    if (code == "57P01" || code == "57P02" || code == "57P03") {
        return QStringLiteral("Сервер баз данных (%1) остановлен или перезапускается "
                              "администратором; изменение не сохранено. Повторите действие "
                              "через минуту; если не выйдет, обратитесь к администратору")
                   .arg(m_where) +
               detail;
    }
    if (code == "42501") {
        return QStringLiteral("Вашей роли на сервере это не разрешено (%1). Права даёт "
                              "администратор сервера")
                   .arg(m_where) +
               detail;
    }
    return libpqDetail(primary ? primary : PQerrorMessage(m_conn));
}
