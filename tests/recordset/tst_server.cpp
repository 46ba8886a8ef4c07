// Several computers on one register on the server: each sees the others' changes after Reread, a
// post on a row another computer deleted fails with the engine's message, and a connection the
// server dropped fails the action that found it gone, naming the server, and is made again by the
// next one, the record still pending.
#include "TestServer.h"

#include "platform/Error.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

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
