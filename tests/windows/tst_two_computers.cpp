// Two computers on one register, on the file and on the server. A write never overwrites what the
// other computer changed since this one read the row: where both changed the same thing (or things
// that go together) it fails, saying so, with what was typed kept; otherwise both are kept. The age
// calculation never stores an age computed from a year read before another computer changed it, and
// two calculations never mix their years. A lock another computer holds ends the wait with a
// message once it has waited its limit, and a lock released sooner lets the save go on. A search
// statement never runs a second statement or changes data.
#include "ProgramFixture.h"
#include "Processes.h"
#include "TempDatabase.h"
#include "TestServer.h"
#include "engines/EngineErrors.h"
#include "engines/sqlite/SqliteConnection.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"
#include "service/AgeCalculation.h"

#include "controls/ConflictWindow.h"
#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "windows/DataModule.h"
#include "windows/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

// One computer: its own connection to the register, its own tblMain and a search's list of the
// same people, read when it starts.
struct Computer
{
    Computer(const QString &file, const QString &server) : connection(file, server)
    {
        tblMain.setTableName(QStringLiteral("Main"));
        tblMain.setActive(true);
        found.SQL().add(QStringLiteral("select * from Main"));
        found.setActive(true);
    }
    Field &field(const QString &name) { return people->FieldNamed(name); }
    QString shown()
    {
        return field(QStringLiteral("ФИО")).AsText() + u'/' + field(QStringLiteral("Год")).AsText();
    }

    Connection connection;
    RecordSet tblMain{QStringLiteral("tblMain"), connection, RecordSet::Kind::Table};
    RecordSet found{QStringLiteral("qryZapros1"), connection, RecordSet::Kind::Query};
    RecordSet *people = &tblMain; // the list the last action worked in
};

class TwoComputers : public ::testing::TestWithParam<bool>
{
protected:
    // A register of three people of its own, on the file or on the server.
    void freshRegister()
    {
        m_release = {};
        m_serverLock.reset();
        m_fileLock.reset();
        if (GetParam()) {
            m_server = std::make_unique<ServerDatabase>();
            REQUIRE_SERVER(*m_server);
            m_server->exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Андреев', 1960), "
                                          "('Борисов', 1970), ('Васильев', 1980)"));
        } else {
            m_file = std::make_unique<TempDatabase>();
            m_file->addPeople({{"Андреев", 1960}, {"Борисов", 1970}, {"Васильев", 1980}});
        }
    }
    std::unique_ptr<Computer> computer()
    {
        return m_server ? std::make_unique<Computer>(QString(), m_server->conninfo())
                        : std::make_unique<Computer>(m_file->path(), QString());
    }
    bool onServer() const { return m_server != nullptr; }
    // A statement run, or a value read, by a third program.
    void exec(const QString &sql) const { m_server ? m_server->exec(sql) : m_file->exec(sql); }
    QString scalar(const QString &sql) const
    {
        return m_server ? m_server->scalar(sql) : m_file->scalar(sql);
    }
    // What the register holds, as a third computer reads it: ФИО/Год/Возраст of each person.
    QString stored()
    {
        QStringList people;
        for (int key = 1; key <= 3; ++key) {
            const QString sql =
                QStringLiteral("SELECT ФИО || '/' || coalesce(CAST(Год AS TEXT), '') || '/' || "
                               "coalesce(CAST(Возраст AS TEXT), '') FROM Main WHERE Код = %1")
                    .arg(key);
            const QString person = scalar(sql);
            if (!person.isEmpty() && person != QLatin1String("<no row>"))
                people << person;
        }
        return people.join(QStringLiteral(", "));
    }
    // Does what a case names to Борисов: "COLUMN=TEXT" posted (in the search's list after
    // "found "), "delete", or "lock" (another program holds his row: the file's write lock, a
    // server's row lock; "lock 2s" lets it go two seconds later); or "calculate YEAR" as
    // «СФОРМИРОВАТЬ СПИСОК» does.
    void act(QString what, Computer &c)
    {
        c.people = what.startsWith(QLatin1String("found ")) ? &c.found : &c.tblMain;
        RecordSet &people = *c.people;
        what.remove(QStringLiteral("found "));
        if (what == QLatin1String("blob")) {
            const QString sql = QStringLiteral("UPDATE Main SET %1 Год = 1971 WHERE Код = 2");
            m_server ? m_server->exec(sql.arg(QString()))
                     : m_file->exec(sql.arg(QStringLiteral("ФИО = CAST(ФИО AS BLOB),")));
        } else if (what.startsWith(QLatin1String("lock"))) {
            if (m_server) {
                m_serverLock = m_server->connect();
                m_serverLock->beginTransaction();
                m_serverLock->exec(
                    QStringLiteral("UPDATE Main SET Год = Год WHERE ФИО = 'Борисов'"));
            } else {
                m_fileLock = m_file->connect();
                m_fileLock->beginTransaction();
            }
            if (what == QLatin1String("lock 2s")) {
                m_release = std::jthread([this] {
                    std::this_thread::sleep_for(std::chrono::seconds(2));
                    m_server ? m_serverLock->rollbackTransaction()
                             : m_fileLock->rollbackTransaction();
                });
            }
        } else if (what.startsWith(QLatin1String("calculate "))) {
            people.ToFirst();
            people.StartEdit();
            AgeCalculation::walk(people, what.mid(10).toInt());
        } else {
            people.ToFirst();
            while (!people.AtEnd() &&
                   c.field(QStringLiteral("ФИО")).AsText() != QStringLiteral("Борисов"))
                people.ToNext();
            if (what == QLatin1String("delete"))
                return people.DeleteRecord();
            people.StartEdit();
            c.field(what.section(u'=', 0, 0)).setAsText(what.section(u'=', 1));
            people.PostRecord();
        }
    }

private:
    std::unique_ptr<TempDatabase> m_file;
    std::unique_ptr<ServerDatabase> m_server;
    std::unique_ptr<PgConnection> m_serverLock;
    std::unique_ptr<SqliteConnection> m_fileLock;
    std::jthread m_release; // joined before the locks go
};

// A lock is waited for until it goes, up to the limit, and no longer than that.
void expectTheWait(const QString &first, qint64 seconds)
{
    if (first == QLatin1String("lock")) {
        EXPECT_TRUE(seconds >= lockWaitSeconds - 1 && seconds < 2 * lockWaitSeconds) << seconds;
    } else if (first == QLatin1String("lock 2s")) {
        EXPECT_TRUE(seconds >= 1 && seconds < lockWaitSeconds) << seconds;
    }
}

} // namespace

TEST_P(TwoComputers, EachKeepsWhatTheOtherChangedAndOnlyTheSameThingConflicts)
{
    const struct
    {
        const char *first;  // by computer A, after B has read the register
        const char *second; // then by B, which must fail unless `said` is empty
        const char *said;
        bool stillEditing; // B's change kept, to be made again
        const char *shownByB;
        const char *stored;
    } cases[] = {
        {"ФИО=Борисова", "ФИО=Борисов-Иванов", "изменена", true, "Борисов-Иванов/1970",
         "Андреев/1960/, Борисова/1970/, Васильев/1980/"},
        {"ФИО=Борисова", "found ФИО=Борисов-Иванов", "изменена", true, "Борисов-Иванов/1970",
         "Андреев/1960/, Борисова/1970/, Васильев/1980/"},
        // Different things of one person: both kept, and B is shown the row as stored.
        {"Год=1971", "ФИО=Борисов-Иванов", "", false, "Борисов-Иванов/1971",
         "Андреев/1960/, Борисов-Иванов/1971/, Васильев/1980/"},
        {"calculate 2030", "found ФИО=Борисов-Иванов", "", false, "Борисов-Иванов/1970",
         "Андреев/1960/70, Борисов-Иванов/1970/60, Васильев/1980/50"},
        // The name as another tool stored it (a BLOB on the file) compares equal to its text.
        {"blob", "ФИО=Борисов-Иванов", "", false, "Борисов-Иванов/1971",
         "Андреев/1960/, Борисов-Иванов/1971/, Васильев/1980/"},
        // A year goes with the rest of the date of birth.
        {"Месяц=5", "Год=1972", "изменена", true, "Борисов/1972",
         "Андреев/1960/, Борисов/1970/, Васильев/1980/"},
        {"delete", "ФИО=Борисов-Иванов", "удалена", true, "Борисов-Иванов/1970",
         "Андреев/1960/, Васильев/1980/"},
        {"Год=1971", "delete", "изменена", false, "Борисов/1970",
         "Андреев/1960/, Борисов/1971/, Васильев/1980/"},
        // The calculation reads a person changed since again and computes from their year as
        // stored; one deleted is passed over.
        {"Год=1971", "calculate 2030", "", false, "Васильев/1980",
         "Андреев/1960/70, Борисов/1971/59, Васильев/1980/50"},
        {"delete", "calculate 2030", "", false, "Васильев/1980",
         "Андреев/1960/70, Васильев/1980/50"},
        {"calculate 2030", "calculate 2035", "", false, "Васильев/1980",
         "Андреев/1960/75, Борисов/1970/65, Васильев/1980/55"},
        {"lock", "ФИО=Борисов-Иванов", "занят", true, "Борисов-Иванов/1970",
         "Андреев/1960/, Борисов/1970/, Васильев/1980/"},
        {"lock 2s", "ФИО=Борисов-Иванов", "", false, "Борисов-Иванов/1970",
         "Андреев/1960/, Борисов-Иванов/1970/, Васильев/1980/"},
        // A calculation that cannot begin leaves nobody in editing.
        {"lock", "calculate 2030", "занят", false, "Андреев/1960",
         "Андреев/1960/, Борисов/1970/, Васильев/1980/"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.first) + ", then " + c.second);
        freshRegister();
        if (HasFatalFailure() || IsSkipped())
            return;
        const std::unique_ptr<Computer> a = computer();
        const std::unique_ptr<Computer> b = computer();
        act(QString::fromUtf8(c.first), *a);
        QString said;
        QElapsedTimer waited;
        waited.start();
        try {
            act(QString::fromUtf8(c.second), *b);
        } catch (const Error &e) {
            said = e.message();
        }
        if (*c.said) {
            EXPECT_TRUE(said.contains(QStringLiteral("другом компьютере")) &&
                        said.contains(QString::fromUtf8(c.said)))
                << said.toStdString();
        } else {
            EXPECT_EQ(said, QString());
        }
        expectTheWait(QString::fromUtf8(c.first), waited.elapsed() / 1000);
        EXPECT_EQ(b->people->isEditing(), c.stillEditing);
        EXPECT_EQ(b->shown(), QString::fromUtf8(c.shownByB));
        EXPECT_EQ(stored(), QString::fromUtf8(c.stored));
    }
}

// A year of a reference book is found by its value, never by where it lies: another computer
// deletes or changes a year and the table is compacted, moving its rows (VACUUM FULL on the
// server, VACUUM on the file, which renumbers the rows); this computer's change of a year read
// before lands on that year or is refused, never on another.
TEST_P(TwoComputers, AReferenceBookYearIsWrittenByItsValueAcrossACompaction)
{
    const struct
    {
        const char *other;
        int year;         // this computer's edit of that year, as read before
        const char *edit; // the new year, or "delete"
        bool refused;
        const char *stored; // the years before 1933 afterwards
    } cases[] = {
        {"DELETE FROM God WHERE Год = 1930", 1930, "1929", true, "1931 1932"},
        {"DELETE FROM God WHERE Год = 1930", 1931, "1831", false, "1831 1932"},
        {"DELETE FROM God WHERE Год = 1930", 1932, "delete", false, "1931"},
        {"UPDATE God SET Год = 1800 WHERE Год = 1930", 1930, "delete", true, "1800 1931 1932"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.year) + " " + c.edit + " after " + c.other);
        freshRegister();
        if (HasFatalFailure() || IsSkipped())
            return;
        const std::unique_ptr<Computer> b = computer();
        RecordSet years(QStringLiteral("tblGod"), b->connection, RecordSet::Kind::Table);
        years.setTableName(QStringLiteral("God"));
        years.setActive(true);
        exec(QString::fromUtf8(c.other));
        exec(onServer() ? QStringLiteral("VACUUM FULL God") : QStringLiteral("VACUUM"));
        Field &year = years.FieldNamed(QStringLiteral("Год"));
        while (year.AsInt() != c.year)
            years.ToNext();
        QString said;
        try {
            if (c.edit == std::string("delete")) {
                years.DeleteRecord();
            } else {
                years.StartEdit();
                year.setAsText(QString::fromUtf8(c.edit));
                years.PostRecord();
            }
        } catch (const Error &e) {
            said = e.message();
        }
        EXPECT_EQ(said.contains(QStringLiteral("другом компьютере")), c.refused)
            << said.toStdString();
        EXPECT_EQ(scalar(onServer()
                             ? QStringLiteral("SELECT string_agg(Год::text, ' ' ORDER BY "
                                              "Год) FROM God WHERE Год < 1933")
                             : QStringLiteral("SELECT group_concat(Год, ' ') FROM (SELECT "
                                              "Год FROM God WHERE Год < 1933 ORDER BY Год)")),
                  QString::fromUtf8(c.stored));
    }
}

// The searches paste a box's text into their statements: whatever the text, a statement of a
// record set runs as one statement that only reads.
TEST_P(TwoComputers, ASearchStatementNeverRunsASecondStatementOrChangesData)
{
    freshRegister();
    if (HasFatalFailure() || IsSkipped())
        return;
    const std::unique_ptr<Computer> c = computer();
    for (const char *text : {
             "select * from Main where Месяц like  '' ; DELETE FROM Main; --' ",
             "select * from Main where Месяц like  '') AS r; COMMIT; DELETE FROM Main; --' ",
             "WITH gone AS (DELETE FROM Main RETURNING *) SELECT * FROM gone",
         }) {
        SCOPED_TRACE(text);
        RecordSet query(QStringLiteral("qryZapros1"), c->connection, RecordSet::Kind::Query);
        query.SQL().add(QString::fromUtf8(text));
        EXPECT_THROW(query.setActive(true), Error);
        EXPECT_EQ(stored(), QStringLiteral("Андреев/1960/, Борисов/1970/, Васильев/1980/"));
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, TwoComputers, ::testing::Values(false, true),
                         [](const auto &info) {
                             return info.param ? std::string("Server") : std::string("File");
                         });

// The program on a file another program changes: a refused change opens the conflict window, and
// each choice, made there, does what it says.
class ConflictTest : public ProgramTest
{
protected:
    ConflictTest()
    {
        exec(QStringLiteral(
            "INSERT INTO Main (ФИО, Год) VALUES ('Иванов', 1980), ('Сидоров', 1970)"));
        startProgram();
        catchUp();
    }
    void press(DBNavigator::Button button)
    {
        QTest::mouseClick(frmMain->dbnvgr1->button(button), Qt::LeftButton);
    }
    // Down in the grid: leaving the row saves it.
    void leaveTheRow() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down); }
    // Types a new name over Иванов's in the main grid.
    void rename(const QString &name)
    {
        frmMain->dbgrd1->setFocus();
        for (Qt::Key key : {Qt::Key_PageUp, Qt::Key_Home})
            QTest::keyClick(frmMain->dbgrd1, key);
        for (const QChar c : name)
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown,
                                QString(c), Qt::NoModifier);
    }
};

TEST_F(ConflictTest, EachChoiceOfTheConflictWindowDoesWhatItSays)
{
    using Kind = ConflictView::Kind;
    const struct
    {
        const char *other; // by another program, once the register is shown
        bool deleting; // then this one deletes Иванов, or renames him Петров and saves
        ConflictChoice choice;
        Kind shown;
        const char *stored; // the names in the register afterwards
        bool editing;
    } cases[] = {
        {"UPDATE Main SET ФИО = 'Другой', Год = 1981 WHERE Код = 1", false,
         ConflictChoice::SaveMine, Kind::Changed, "Петров/1981 Сидоров/1970", false},
        {"UPDATE Main SET ФИО = 'Другой' WHERE Код = 1", false, ConflictChoice::TakeTheirs,
         Kind::Changed, "Другой/1980 Сидоров/1970", false},
        {"UPDATE Main SET ФИО = 'Другой' WHERE Код = 1", false, ConflictChoice::KeepEditing,
         Kind::Changed, "Другой/1980 Сидоров/1970", true},
        {"DELETE FROM Main WHERE Код = 1", false, ConflictChoice::SaveAsNew, Kind::Deleted,
         "Сидоров/1970 Петров/1980", false},
        {"DELETE FROM Main WHERE Код = 1", false, ConflictChoice::DontSave, Kind::Deleted,
         "Сидоров/1970", false},
        {"UPDATE Main SET Год = 1990 WHERE Код = 1", true, ConflictChoice::DeleteAnyway,
         Kind::DeleteRefused, "Сидоров/1970", false},
        {"UPDATE Main SET Год = 1990 WHERE Код = 1", true, ConflictChoice::DontDelete,
         Kind::DeleteRefused, "Иванов/1990 Сидоров/1970", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.other + std::string(c.deleting ? ", delete" : ", rename"));
        if (DM->tblMain.isEditing())
            press(DBNavigator::nbCancel);
        exec(QStringLiteral("DELETE FROM Main WHERE Код > 2; DELETE FROM Main; INSERT INTO Main "
                            "(Код, ФИО, Год) VALUES (1, 'Иванов', 1980), (2, 'Сидоров', 1970)"));
        press(DBNavigator::nbRefresh);
        exec(QString::fromUtf8(c.other));
        dialogs.conflicts.clear();
        dialogs.choices = {c.choice};
        if (c.deleting) {
            frmMain->dbgrd1->setFocus();
            QTest::keyClick(frmMain->dbgrd1, Qt::Key_PageUp);
            press(DBNavigator::nbDelete);
        } else {
            rename(QStringLiteral("Петров"));
            leaveTheRow();
        }
        ASSERT_EQ(dialogs.conflicts.size(), 1u);
        EXPECT_EQ(dialogs.conflicts[0].kind, c.shown);
        EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(u'\n').toStdString();
        EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО || '/' || Год, ' ') FROM (SELECT "
                                        "* FROM Main ORDER BY Код)")),
                  QString::fromUtf8(c.stored));
        EXPECT_EQ(DM->tblMain.isEditing(), c.editing);
        if (c.choice == ConflictChoice::TakeTheirs) {
            catchUp();
            EXPECT_EQ(frmMain->dbedt1->text(), QStringLiteral("Другой")) << "the row as stored";
        }
        if (c.editing) {
            // Kept editing, now against the row as stored: saving again stores what was typed.
            leaveTheRow();
            EXPECT_EQ(dialogs.conflicts.size(), 1u);
            EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main WHERE Код = 1")),
                      QStringLiteral("Петров"));
        }
    }
}

// What the window shows of a change both made: the name as read, as the other stored it and as
// typed here; the other's change of something else as kept.
TEST_F(ConflictTest, TheWindowShowsBothChangesAndWhatTheOtherChangedElse)
{
    exec(QStringLiteral("UPDATE Main SET ФИО = 'Другой', Год = 1981 WHERE Код = 1"));
    rename(QStringLiteral("Петров"));
    leaveTheRow();
    ASSERT_EQ(dialogs.conflicts.size(), 1u);
    const ConflictView &view = dialogs.conflicts[0];
    EXPECT_EQ(view.who, QStringLiteral("Иванов"));
    ASSERT_EQ(view.conflicts.size(), 1u);
    EXPECT_EQ(view.conflicts[0].was + u'/' + view.conflicts[0].theirs + u'/' +
                  view.conflicts[0].yours,
              QStringLiteral("Иванов/Другой/Петров"));
    ASSERT_EQ(view.kept.size(), 1u);
    EXPECT_EQ(view.kept[0].was + u'/' + view.kept[0].theirs, QStringLiteral("1980/1981"));

    // The window itself, by the keyboard: Esc keeps editing; Tab goes from the default choice to
    // the next, and Enter takes it.
    ConflictWindow escaped(view);
    escaped.show();
    QTest::keyClick(&escaped, Qt::Key_Escape);
    EXPECT_EQ(escaped.choice(), ConflictChoice::KeepEditing);
    ConflictWindow chosen(view);
    chosen.show();
    QApplication::setActiveWindow(&chosen);
    EXPECT_EQ(QApplication::focusWidget(), chosen.button(ConflictChoice::KeepEditing));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(chosen.choice(), ConflictChoice::SaveMine);
}
