// The age calculation of the real program, killed at random moments and run by two copies at
// once, on the file and on a register on the server: every person always holds the age and mark
// of one and the same year.
#include "TempDatabase.h"
#include "TestServer.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

namespace {

constexpr int people = 20000;

// The register on the file, or on the server when the test's parameter says so.
class WalkProcessTest : public ::testing::TestWithParam<bool>
{
protected:
    WalkProcessTest()
    {
        if (GetParam())
            m_server = std::make_unique<ServerDatabase>();
    }
    void SetUp() override
    {
        if (m_server) {
            REQUIRE_SERVER(*m_server);
            m_server->exec(
                QStringLiteral(
                    "INSERT INTO Main (ФИО, Год) SELECT 'Человек ' || i, 1930 + i % 90 FROM "
                    "generate_series(0, %1) AS i; UPDATE Main SET Возраст = 2020 - Год, Юбилей = "
                    "CASE WHEN (2020 - Год) % 5 = 0 THEN 'да' ELSE 'нет' END")
                    .arg(people - 1));
            return;
        }
        auto db = m_db.connect();
        db->exec(QStringLiteral("BEGIN"));
        SqliteStatement insert =
            db->prepare(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES (?, ?)"));
        for (int i = 0; i < people; ++i) {
            insert.bind(1, QStringLiteral("Человек %1").arg(i));
            insert.bindInt64(2, 1930 + i % 90);
            insert.run();
        }
        db->exec(QStringLiteral("UPDATE Main SET Возраст = 2020 - Год, Юбилей = CASE WHEN "
                                "(2020 - Год) % 5 = 0 THEN 'да' ELSE 'нет' END"));
        db->exec(QStringLiteral("COMMIT"));
    }

    void start(QProcess &walk, int year)
    {
        QStringList arguments{m_db.TempFolder::path(), QString::number(year)};
        if (m_server)
            arguments << m_server->conninfo();
        walk.start(QStringLiteral(REESTR_WALK_RUNNER), arguments);
        ASSERT_TRUE(walk.waitForStarted());
    }

    // How many people hold the age and mark of `year`, as another program reads the register.
    qint64 holdingYear(int year)
    {
        const QString sql =
            QStringLiteral(
                "SELECT count(*) FROM Main WHERE Возраст = %1 - coalesce(Год, 0) AND Юбилей = "
                "CASE WHEN (%1 - coalesce(Год, 0)) % 5 = 0 THEN 'да' ELSE 'нет' END")
                .arg(year);
        if (m_server)
            return m_server->scalar(sql).toLongLong();
        auto db = m_db.connect();
        SqliteStatement check = db->prepare(QStringLiteral("PRAGMA integrity_check"));
        EXPECT_TRUE(check.step() && check.columnText(0) == QLatin1String("ok"));
        SqliteStatement count = db->prepare(sql);
        return count.step() ? count.columnInt64(0) : -1;
    }

    TempDatabase m_db;
    std::unique_ptr<ServerDatabase> m_server;
};

INSTANTIATE_TEST_SUITE_P(Engines, WalkProcessTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Server" : "File";
                         });

} // namespace

TEST_P(WalkProcessTest, KilledAtAnyMomentTheFileHoldsTheOldValuesOrTheNewOnesNeverAMixture)
{
    std::mt19937 random(7);
    int stored = 2020;
    for (int round = 0; round < 6; ++round) {
        const int year = 2021 + round;
        const int delayMs = int(random() % 2500);
        SCOPED_TRACE(QStringLiteral("round %1, year %2, killed after %3 ms")
                         .arg(round)
                         .arg(year)
                         .arg(delayMs)
                         .toStdString());
        QProcess walk;
        start(walk, year);
        walk.waitForReadyRead(30000); // "walking"
        QThread::msleep(ulong(delayMs));
        ::kill(pid_t(walk.processId()), SIGKILL);
        walk.waitForFinished(30000);

        const qint64 before = holdingYear(stored);
        const qint64 after = holdingYear(year);
        EXPECT_TRUE((before == people && after == 0) || (before == 0 && after == people))
            << before << " people hold " << stored << ", " << after << " hold " << year;
        if (after == people)
            stored = year;
    }
}

TEST_P(WalkProcessTest, TwoCopiesCalculatingDifferentYearsNeverLeaveTheYearsMixed)
{
    QProcess first;
    QProcess second;
    start(first, 2030);
    start(second, 2035);
    ASSERT_TRUE(first.waitForFinished(120000)) << "a walk hung";
    ASSERT_TRUE(second.waitForFinished(120000)) << "a walk hung";
    int told = 0;
    for (QProcess *walk : {&first, &second}) {
        const QStringList boxes = QString::fromUtf8(walk->readAllStandardError())
                                      .split(QLatin1Char('\n'))
                                      .filter(QRegularExpression(QStringLiteral("^BOX ")));
        // Where both read the register before either wrote, the one that waited for the other
        // finds it changed under what it read (or busy for too long) and stores nothing.
        EXPECT_LE(boxes.size(), 1);
        if (!boxes.isEmpty()) {
            ++told;
            EXPECT_TRUE(boxes[0].contains(QStringLiteral("другом компьютере")))
                << boxes[0].toStdString();
        }
    }
    EXPECT_LE(told, 1) << "at least one of the two ran";
    const qint64 of2030 = holdingYear(2030);
    const qint64 of2035 = holdingYear(2035);
    EXPECT_TRUE(of2030 == people || of2035 == people)
        << of2030 << " people hold 2030, " << of2035 << " hold 2035";
}
