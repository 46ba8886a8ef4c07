// Several computers on one register on the server: each sees the others' changes after Reread, a
// post on a row another computer deleted fails with the engine's message, and a connection the
// server dropped fails the action that found it gone, naming the server, and is made again by the
// next one, the record still pending.
#include "RecordingDialogs.h"
#include "TestServer.h"

#include "platform/Error.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

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
    QString failureOf(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const Error &e) {
            return e.message();
        }
        return {};
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
    EXPECT_TRUE(first.failureOf([&] { first.tblMain.PostRecord(); })
                    .contains(QStringLiteral("другом компьютере")));
    EXPECT_EQ(first.tblMain.state(), RecordSet::State::Editing) << "nothing is lost silently";
    first.tblMain.CancelRecord();
    first.tblMain.Reread();
    EXPECT_EQ(first.tblMain.RecordTotal(), 39);

    // The server drops every connection of the register (a restart, the network).
    first.rename(QStringLiteral("Кузнецова"));
    db.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                           "datname = current_database() AND pid <> pg_backend_pid()"));
    const QString lost = first.failureOf([&] { first.tblMain.PostRecord(); });
    EXPECT_TRUE(lost.contains(QStringLiteral("Нет связи с сервером баз данных")))
        << lost.toStdString();
    EXPECT_TRUE(lost.contains(QStringLiteral("база данных «reestr_test_"))) << lost.toStdString();
    EXPECT_EQ(first.tblMain.state(), RecordSet::State::Editing);
    EXPECT_EQ(first.name(), QStringLiteral("Кузнецова"));
    EXPECT_EQ(first.failureOf([&] { first.tblMain.PostRecord(); }), QString())
        << "the next action connects again";
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'Кузнецова'")),
              QStringLiteral("1"));
}

// A server that asks for a password: the person is asked in a dialog, the question naming the
// server; a declined question ends in the connection's box, never with a password shown.
TEST(Server, APasswordTheServerAsksForIsAskedOfThePerson)
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
    qputenv("PGPASSFILE", "/nonexistent");
    RecordingDialogs dialogs;
    dialogs.password = QStringLiteral("Пароль 1");
    {
        Connection connection(QString(), overNetwork);
        RecordSet people(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
        people.setTableName(QStringLiteral("Main"));
        people.setActive(true);
        EXPECT_EQ(people.RecordTotal(), 40);
        EXPECT_FALSE(connection.isReadOnly());
    }
    ASSERT_EQ(dialogs.passwordQuestions.size(), 1);
    EXPECT_TRUE(dialogs.passwordQuestions[0].contains(QStringLiteral("сервер «127.0.0.1:")));

    dialogs.password.reset();
    Connection declined(QString(), overNetwork);
    try {
        declined.open();
        ADD_FAILURE() << "connected without a password";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Нет связи с сервером баз данных")))
            << e.message().toStdString();
        EXPECT_FALSE(e.message().contains(QStringLiteral("Пароль 1")));
    }
    qunsetenv("PGPASSFILE");
    db.exec(QStringLiteral("DROP OWNED BY %1; DROP ROLE %1").arg(clerk));
}

// An office worker's own login, made a member of one of the register's two roles, reaches the
// register from another building over TLS, the server's certificate checked against the office's
// certificate authority (sslmode=verify-full): the reader's role sees the register read only and
// the server refuses it a change; the editor's role changes it. A certificate the office's
// authority did not sign is refused before any password is sent.
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

    const auto changeFirstName = [&](Connection &connection) {
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
    };
    {
        Connection reader(QString(), fromOutside);
        reader.open();
        EXPECT_TRUE(reader.isReadOnly());
        EXPECT_EQ(changeFirstName(reader), QStringLiteral("permission denied for table main"));
    }
    db.exec(
        QStringLiteral("REVOKE %2_reader FROM %1; GRANT %2_editor TO %1").arg(worker, db.name()));
    {
        Connection editor(QString(), fromOutside);
        editor.open();
        EXPECT_FALSE(editor.isReadOnly());
        EXPECT_EQ(changeFirstName(editor), QStringLiteral("changed"));
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
    try {
        impostor.open();
        ADD_FAILURE() << "a certificate of another authority was taken";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("certificate verify failed")))
            << e.message().toStdString();
    }
    EXPECT_TRUE(dialogs.passwordQuestions.isEmpty());
    qunsetenv("PGPASSFILE");
    db.exec(QStringLiteral("DROP OWNED BY %1; DROP ROLE %1").arg(worker));
}
