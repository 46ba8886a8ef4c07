// Several computers on one register on the server: each sees the others' changes after Reread, a
// post on a row another computer deleted fails with the engine's message, and a connection the
// server dropped fails the action that found it gone, naming the server, and is made again by the
// next one, the record still pending.
#include "RecordingDialogs.h"
#include "TestServer.h"

#include "platform/Error.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QRegularExpression>

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
                    .startsWith(QStringLiteral("Row cannot be located for updating")));
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
