// Several computers on one register on the server: each sees the others' changes after Reread, a
// post on a row another computer deleted fails with the engine's message, and a connection the
// server dropped fails the action that found it gone, naming the server, and is made again by the
// next one, the record still pending.
#include "DelayingRelay.h"
#include "RecordingDialogs.h"
#include "TestServer.h"

#include "engines/Engine.h"
#include "register/RegisterSchema.h"
#include "platform/Error.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>

namespace {

// The message of the error an action ends with; empty when it succeeds.
QString failureOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

// One computer's tblMain on the register.
struct Computer
{
    explicit Computer(const ServerDatabase &db) : connection(QString(), db.conninfo())
    {
        tblMain.setTableName(QStringLiteral("Main"));
        tblMain.setActive(true);
    }
    QString name() { return tblMain.FieldNamed(QStringLiteral("ФИО")).AsText(); }
    void rename(const QString &name)
    {
        tblMain.StartEdit();
        tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(name);
    }
    Connection connection;
    RecordSet tblMain{QStringLiteral("tblMain"), connection, RecordSet::Kind::Table};
};

} // namespace

TEST(Server, TwoComputersShareOneRegisterAndALostConnectionIsMadeAgain)
{
    ServerDatabase db(true, true);
    REQUIRE_SERVER(db);
    Computer first(db);
    Computer second(db);
    EXPECT_EQ(first.tblMain.RecordTotal(), 40);

    first.rename(QStringLiteral("Иванова Мария"));
    first.tblMain.PostRecord();
    EXPECT_EQ(second.name(), QStringLiteral("Иванов Сергей Петрович")) << "not before Reread";
    second.tblMain.Reread();
    EXPECT_EQ(second.name(), QStringLiteral("Иванова Мария"));

    // The second computer deletes the person the first is about to change.
    second.tblMain.ToNext();
    second.tblMain.DeleteRecord();
    first.tblMain.ToNext();
    first.rename(QStringLiteral("Смирнова-Петрова"));
    EXPECT_TRUE(failureOf([&] {
                    first.tblMain.PostRecord();
                }).contains(QStringLiteral("другом компьютере")));
    EXPECT_EQ(first.tblMain.state(), RecordSet::State::Editing) << "nothing is lost silently";
    first.tblMain.CancelRecord();
    first.tblMain.Reread();
    EXPECT_EQ(first.tblMain.RecordTotal(), 39);

    // The server drops every idle connection of the register (a restart): the next action
    // finds out before it sends anything, and connects again without a word.
    first.rename(QStringLiteral("Кузнецова"));
    db.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                           "datname = current_database() AND pid <> pg_backend_pid()"));
    EXPECT_EQ(failureOf([&] { first.tblMain.PostRecord(); }), QString());
    EXPECT_EQ(failureOf([&] { second.tblMain.Reread(); }), QString());
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'Кузнецова'")),
              QStringLiteral("1"));
}

// A connection made again after the server dropped it listens again: what was committed while
// nobody listened is read whole, and what follows is heard by its key.
TEST(Server, AConnectionMadeAgainListensAgainAndReadsWhatItMissed)
{
    ServerDatabase db(true, true);
    REQUIRE_SERVER(db);
    Connection connection(QString(), db.conninfo());
    RecordSet people(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    people.setTableName(QStringLiteral("Main"));
    people.setActive(true);
    const int read = people.RecordTotal();
    const auto shownAfter = [&](const char *name) {
        db.exec(
            QStringLiteral("INSERT INTO Main (ФИО) VALUES ('%1')").arg(QString::fromUtf8(name)));
        // The connection hears of it (or of its own end).
        pollfd news{connection.changeSignal(), POLLIN, 0};
        if (poll(&news, 1, 5000) <= 0)
            return -1;
        connection.showOthersChanges();
        return people.RecordTotal() - read;
    };
    EXPECT_EQ(shownAfter("Первый"), 1);
    db.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                           "datname = current_database() AND pid <> pg_backend_pid()"));
    EXPECT_EQ(shownAfter("Пропущенный"), 1) << "nobody listens until the program connects again";
    people.RefreshRecord(); // an action: the program connects again
    connection.showOthersChanges();
    EXPECT_EQ(people.RecordTotal() - read, 2);
    EXPECT_EQ(shownAfter("Третий"), 3);
}

// Over a branch office's slow link the register opens in a few round trips, whatever it holds.
TEST(Server, OverASlowLinkTheRegisterOpensInAFewRoundTrips)
{
    ServerDatabase db(true, true);
    REQUIRE_SERVER(db);
    DelayingRelay relay(db.socket(), std::chrono::milliseconds(10));
    Connection connection(QString(), relay.through(db.conninfo()));
    std::vector<std::unique_ptr<RecordSet>> tables;
    for (const RegisterSchema::Table &schema : RegisterSchema::tables()) {
        const QString table = schema.qName();
        tables.push_back(std::make_unique<RecordSet>(table, connection, RecordSet::Kind::Table));
        tables.back()->setTableName(table);
        tables.back()->setActive(true);
        EXPECT_GT(tables.back()->RecordTotal(), 0) << table.toStdString();
    }
    EXPECT_LE(relay.roundTrips(), 6);
}

// The link fails during an action. Whatever the fault, the clerk learns whether the change was
// stored, a retry never stores it twice, and a connection a restart closed is made again unseen.
namespace {

enum Fault { AnswerLost, LinkDown, Restart, Stall };
enum Action { Insert, Post, Delete, Refresh };

// Makes the link fail as `fault` says during the action that follows.
void failTheLink(Action action, Fault fault, DelayingRelay &relay, ServerDatabase &db)
{
    if (fault == AnswerLost || fault == LinkDown)
        // A change's first turn begins its transaction; a refresh has one turn.
        relay.loseAnswersFrom(action == Refresh ? 1 : 2, fault == LinkDown);
    if (fault == Stall)
        relay.setSilent(true);
    if (fault == Restart)
        db.exec(QStringLiteral("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                               "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
}

} // namespace

TEST(Server, WhenTheLinkFailsTheClerkLearnsWhetherTheChangeWasStoredAndARetryNeverStoresItTwice)
{
    struct Case
    {
        Action action;
        Fault fault;
        const char *told;  // what the first attempt says; empty: it succeeds
        const char *noted; // the note that the change was stored after all
    };
    const char *sent = "узнать, сохранено ли оно, не удалось";
    const char *noLink = "Нет связи с сервером";
    const char *saved = "изменение сохранено";
    const Case cases[] = {
        {Insert, AnswerLost, "", saved}, {Post, AnswerLost, "", saved},
        {Delete, AnswerLost, "", saved}, {Refresh, AnswerLost, noLink, ""},
        {Insert, LinkDown, sent, ""},    {Post, LinkDown, sent, ""},
        {Delete, LinkDown, sent, ""},    {Refresh, LinkDown, noLink, ""},
        {Insert, Restart, "", ""},       {Post, Restart, "", ""},
        {Delete, Restart, "", ""},       {Refresh, Restart, "", ""},
        {Insert, Stall, noLink, ""},     {Post, Stall, noLink, ""},
        {Delete, Stall, noLink, ""},     {Refresh, Stall, noLink, ""},
    };
    ServerDatabase db(true, true);
    REQUIRE_SERVER(db);
    Connection::setAnswerLimit(std::chrono::seconds(2));
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "action " << c.action << ", fault " << c.fault);
        DelayingRelay relay(db.socket(), std::chrono::milliseconds(2));
        RecordingDialogs dialogs;
        Connection connection(QString(), relay.through(db.conninfo()));
        RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
        tblMain.setTableName(QStringLiteral("Main"));
        tblMain.setActive(true);
        Field &name = tblMain.FieldNamed(QStringLiteral("ФИО"));
        const QString before = name.AsText();
        QString after = QStringLiteral("Новое имя %1-%2").arg(c.action).arg(c.fault);
        if (c.action == Insert || c.action == Post) {
            c.action == Insert ? tblMain.StartInsert() : tblMain.StartEdit();
            name.setAsText(after);
        }
        if (c.action == Refresh)
            db.exec(
                QStringLiteral("UPDATE Main SET ФИО = '%1' WHERE ФИО = '%2'").arg(after, before));
        failTheLink(c.action, c.fault, relay, db);
        const auto act = [&] {
            return failureOf([&] {
                c.action == Delete    ? tblMain.DeleteRecord()
                : c.action == Refresh ? tblMain.Reread()
                                      : tblMain.PostRecord();
            });
        };
        const QString told = act();
        relay.setSilent(false);
        EXPECT_TRUE(QByteArray(c.told).isEmpty() ? told.isEmpty()
                                                 : told.contains(QString::fromUtf8(c.told)))
            << told.toStdString();
        EXPECT_EQ(dialogs.notes.size(), QByteArray(c.noted).isEmpty() ? 0 : 1);
        EXPECT_TRUE(dialogs.notes.join(QLatin1Char('\n')).contains(QString::fromUtf8(c.noted)));
        if (!told.isEmpty()) {
            EXPECT_EQ(tblMain.state() != RecordSet::State::Browsing,
                      c.action == Insert || c.action == Post)
                << "the typing is kept";
            if (c.action == Insert || c.action == Post)
                name.setAsText(after += QLatin1Char('!')); // typed meanwhile, and stored
            EXPECT_EQ(act(), QString()) << "the next attempt connects again";
        }
        // What a second connection sees: the change once, and the record set showing it.
        EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = '%1'")
                                .arg(c.action == Delete ? before : after))
                      .toInt(),
                  c.action == Delete ? 0 : 1);
        EXPECT_EQ(name.AsText() == after, c.action != Delete);
        db.exec(QStringLiteral("DELETE FROM Main WHERE ФИО = '%1'").arg(after));
    }
    Connection::setAnswerLimit(defaultAnswerLimit);
}

// A server that asks for a password: the person is asked in a box naming the role and the server;
// a wrong password is asked for again, and a refused one from ~/.pgpass once; «Отмена» or an empty
// password ends the asking for the run; a password given is kept in memory for the run.
TEST(Server, APasswordIsAskedAgainWhenWrongAndTheAskingEndsWhenDeclined)
{
    ServerDatabase db(true, true);
    REQUIRE_SERVER(db);
    // Roles belong to the whole server, which tests share: this one is named after the database.
    const QString clerk = db.name() + QStringLiteral("_clerk");
    db.exec(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'Пароль 1'; GRANT SELECT, INSERT, "
                           "UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO %1")
                .arg(clerk));
    // Over the network the tests' server asks every role for its password.
    QString overNetwork = db.conninfo();
    overNetwork.replace(QRegularExpression(QStringLiteral("host=\\S+")),
                        QStringLiteral("host=127.0.0.1"));
    overNetwork += QStringLiteral(" user=") + clerk;
    QTemporaryDir home;
    const QString passFile = home.filePath(QStringLiteral("pgpass"));
    qputenv("PGPASSFILE", QFile::encodeName(passFile));
    const struct
    {
        const char *inPassFile;
        std::vector<std::optional<QString>> replies;
        int questions;
        bool opens;
    } cases[] = {
        {nullptr, {QStringLiteral("неверный"), QStringLiteral("Пароль 1")}, 2, true},
        {nullptr, {std::nullopt}, 1, false},
        {nullptr, {QStringLiteral("неверный"), QString()}, 2, false},
        {"старый", {QStringLiteral("Пароль 1")}, 1, true},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(n);
        n++;
        QFile::remove(passFile);
        if (c.inPassFile) {
            QFile file(passFile);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("*:*:*:" + clerk.toUtf8() + ':' + c.inPassFile + '\n');
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        RecordingDialogs dialogs;
        dialogs.replies.assign(c.replies.begin(), c.replies.end());
        // Each case a server of its own for the passwords the run keeps.
        const QString server = overNetwork + QStringLiteral(" connect_timeout=%1").arg(10 + n);
        Connection connection(QString(), server);
        const auto opens = [&] {
            const QString failed = failureOf([&] { connection.open(); });
            EXPECT_FALSE(failed.contains(QStringLiteral("Пароль 1")));
            return failed.isEmpty();
        };
        EXPECT_EQ(opens(), c.opens);
        ASSERT_EQ(dialogs.passwordQuestions.size(), c.questions);
        EXPECT_TRUE(dialogs.passwordQuestions[0].contains(clerk));
        EXPECT_TRUE(dialogs.passwordQuestions[0].contains(QStringLiteral("сервер «127.0.0.1:")));
        if (c.questions > 1) {
            EXPECT_TRUE(dialogs.passwordQuestions[1].startsWith(QStringLiteral("Неверный пароль")));
        }
        // Declined: fails at once; given: kept in memory, for the start that follows too.
        connection.close();
        EXPECT_EQ(opens(), c.opens);
        if (c.opens) {
            EXPECT_NO_THROW(Connection(QString(), server).open());
        }
        EXPECT_EQ(dialogs.passwordQuestions.size(), c.questions);
    }
    // A mistyped database name is not a wrong password: said by name, and not asked again.
    RecordingDialogs dialogs;
    dialogs.password = QStringLiteral("Пароль 1");
    QString mistyped = overNetwork;
    mistyped.replace(QRegularExpression(QStringLiteral("dbname=\\S+")),
                     QStringLiteral("dbname=%1_нет").arg(db.name()));
    const QString refused = failureOf([&] { Connection(QString(), mistyped).open(); });
    EXPECT_EQ(dialogs.passwordQuestions.size(), 1);
    EXPECT_TRUE(refused.contains(QStringLiteral("нет базы данных «%1_нет»").arg(db.name())))
        << refused.toStdString();
    qunsetenv("PGPASSFILE");
    db.exec(QStringLiteral("DROP OWNED BY %1; DROP ROLE %1").arg(clerk));
}

// authority did not sign is refused before any password is sent.
namespace {

// The register as the connection shows it, and a change of the first person's name made over a
// second connection as the same role, checked to travel over TLS: "changed", or the refusal.
QString changeFirstName(Connection &connection, const QString &fromOutside)
{
    RecordSet people(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    people.setTableName(QStringLiteral("Main"));
    people.setActive(true);
    EXPECT_EQ(people.RecordTotal(), 40);
    PgConnection check(fromOutside, [](const QString &) { return QStringLiteral("Пароль 2"); });
    EXPECT_EQ(check
                  .exec(QStringLiteral("SELECT ssl::text FROM pg_stat_ssl WHERE pid = "
                                       "pg_backend_pid()"))
                  .text(0, 0),
              QStringLiteral("true"));
    try {
        check.exec(QStringLiteral("UPDATE Main SET ФИО = 'Петров' WHERE Код = 1"));
        return QStringLiteral("changed");
    } catch (const Error &e) {
        return e.message();
    }
}

} // namespace

TEST(Server, TheRegistersRolesLetAWorkerReadOrEditOverACheckedTlsConnection)
{
    ServerDatabase db(true, true);
    REQUIRE_SERVER(db);
    const QString serverFolder =
        QRegularExpression(QStringLiteral("host=(\\S+)")).match(db.admin()).captured(1);
    const QString authority = serverFolder + QStringLiteral("/ca.crt");
    if (!QFile::exists(authority))
        GTEST_SKIP() << "the tests' server has no TLS (no openssl)";
    const QString worker = db.name() + QStringLiteral("_ivanova");
    db.exec(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'Пароль 2'; GRANT %2_reader TO %1")
                .arg(worker, db.name()));
    QString fromOutside = db.conninfo();
    fromOutside.replace(QRegularExpression(QStringLiteral("host=\\S+")),
                        QStringLiteral("host=localhost"));
    fromOutside +=
        QStringLiteral(" user=%1 sslmode=verify-full sslrootcert=%2").arg(worker, authority);
    qputenv("PGPASSFILE", "/nonexistent");
    RecordingDialogs dialogs;
    dialogs.password = QStringLiteral("Пароль 2");

    {
        Connection reader(QString(), fromOutside);
        reader.open();
        EXPECT_TRUE(reader.isReadOnly());
        EXPECT_TRUE(changeFirstName(reader, fromOutside).contains(QStringLiteral("не разрешено")));
    }
    db.exec(
        QStringLiteral("REVOKE %2_reader FROM %1; GRANT %2_editor TO %1").arg(worker, db.name()));
    {
        Connection editor(QString(), fromOutside);
        editor.open();
        EXPECT_FALSE(editor.isReadOnly());
        EXPECT_EQ(changeFirstName(editor, fromOutside), QStringLiteral("changed"));
        // New people are numbered by the register's own sequence, which the editor may use.
        EXPECT_NO_THROW(PgConnection(fromOutside, [](const QString &) {
                            return QStringLiteral("Пароль 2");
                        }).exec(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Новая')")));
    }
    EXPECT_EQ(
        db.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО IN ('Петров', 'Новая')")),
        QStringLiteral("2"));

    // Another authority's certificate: refused, no password asked.
    dialogs.passwordQuestions.clear();
    QTemporaryDir elsewhere;
    const QString otherAuthority = elsewhere.filePath(QStringLiteral("ca.crt"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("openssl"),
                                {QStringLiteral("req"), QStringLiteral("-x509"),
                                 QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                                 QStringLiteral("-nodes"), QStringLiteral("-subj"),
                                 QStringLiteral("/CN=localhost"), QStringLiteral("-keyout"),
                                 elsewhere.filePath(QStringLiteral("ca.key")),
                                 QStringLiteral("-out"), otherAuthority}),
              0);
    Connection impostor(QString(), QString(fromOutside).replace(authority, otherAuthority));
    const QString refused = failureOf([&] { impostor.open(); });
    EXPECT_TRUE(refused.contains(QStringLiteral("certificate verify failed")))
        << refused.toStdString();
    EXPECT_TRUE(dialogs.passwordQuestions.isEmpty());
    qunsetenv("PGPASSFILE");
    db.exec(QStringLiteral("DROP OWNED BY %1; DROP ROLE %1").arg(worker));
}
