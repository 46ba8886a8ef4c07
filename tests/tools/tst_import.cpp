// reestr-db import: an Access file of the old program into the program's database, checked
// against what mdbtools' own commands say of the same file.
#include "Fixtures.h"
#include "ImportHelpers.h"
#include "Filesystems.h"
#include "JetFile.h"
#include "Processes.h"
#include "TempDatabase.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString &fixture = oldRegisterFile();

// One CSV line of mdb-export, fields as written (quotes removed).
QStringList csvFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

// What differs between the rows mdb-export reads from an Access file and the rows of the database
// imported from it, table by table and value by value (mdb-export shows NULL and an empty text
// alike); empty when they agree.
QStringList differencesFromMdbExport(const QString &source, const QString &imported)
{
    QStringList differences;
    SqliteConnection db(imported, SqliteConnection::Mode::OpenExisting);
    const ProgramRun listed =
        runProgram(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), source});
    if (listed.status != 0)
        return {QStringLiteral("mdb-tables cannot read the file")};
    for (const QString &table : listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const ProgramRun exported =
            runProgram(QStringLiteral("mdb-export"),
                       {QStringLiteral("-0"), QStringLiteral("<null>"), source, table});
        if (exported.status != 0) {
            differences << table + QStringLiteral(": mdb-export cannot read it");
            continue;
        }
        QStringList lines = exported.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.isEmpty())
            continue;
        lines.removeFirst(); // the column names
        std::optional<SqliteStatement> rows;
        try {
            rows.emplace(db.prepare(
                QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(quoteIdentifier(table))));
        } catch (const Error &) {
            differences << table + QStringLiteral(": not imported");
            continue;
        }
        int row = 0;
        for (const QString &line : lines) {
            ++row;
            if (!rows->step()) {
                differences << table + QStringLiteral(": row %1 missing").arg(row);
                break;
            }
            const QStringList expected = csvFields(line);
            if (rows->columnCount() != expected.size()) {
                differences << table + QStringLiteral(": row %1 has %2 columns, not %3")
                                           .arg(row)
                                           .arg(rows->columnCount())
                                           .arg(expected.size());
                continue;
            }
            for (int c = 0; c < rows->columnCount(); ++c) {
                const QString value = rows->columnType(c) == SqliteStatement::Type::Null
                                          ? QString()
                                          : rows->columnText(c);
                const QString wanted =
                    expected[c] == QLatin1String("<null>") ? QString() : expected[c];
                if (value != wanted)
                    differences << table + QStringLiteral(": row %1 column %2: %3, not %4")
                                               .arg(row)
                                               .arg(c)
                                               .arg(value, wanted);
            }
        }
        if (rows->step())
            differences << table + QStringLiteral(": more rows than mdb-export reads");
    }
    return differences;
}

} // namespace

TEST(ReestrDbImport, EveryRowAndTypeComesOverAsMdbtoolsReadsThem)
{
    TempFolder folder;
    const ProgramRun imported = reestrDb({QStringLiteral("import"), fixture}, folder.path());
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains(QStringLiteral("Main: 20"))) << imported.out.toStdString();
    EXPECT_EQ(filesIn(folder.path()), QStringList{QStringLiteral("Base.mdb")});

    SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                        SqliteConnection::Mode::OpenExisting);
    const QStringList tables =
        runProgram(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), fixture})
            .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(tables, (QStringList{QStringLiteral("Main"), QStringLiteral("God"),
                                   QStringLiteral("Mesyats"), QStringLiteral("Chislo")}));

    // Types: mdb-schema's Access names against the declared types.
    const QString schema =
        runProgram(QStringLiteral("mdb-schema"), {fixture, QStringLiteral("access")}).out;
    for (const QString &table : tables) {
        SqliteStatement info =
            db.prepare(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(table)));
        while (info.step()) {
            const QString column = info.columnText(1);
            const QString declared = info.columnText(2);
            const QRegularExpression line(
                QStringLiteral("\\[%1\\]\\s+([^,\\n]+)").arg(QRegularExpression::escape(column)));
            const QString access =
                line.match(schema, schema.indexOf(QStringLiteral("[%1]").arg(table)))
                    .captured(1)
                    .trimmed();
            if (access.startsWith(QLatin1String("Text"))) {
                EXPECT_EQ(declared, QStringLiteral("VARCHAR(%1)")
                                        .arg(access.section(QLatin1Char('('), 1).chopped(1)))
                    << table.toStdString() << "." << column.toStdString();
            } else {
                EXPECT_EQ(access, QStringLiteral("Long Integer")) << column.toStdString();
                EXPECT_EQ(declared, QStringLiteral("INTEGER")) << column.toStdString();
            }
        }
    }

    // Rows: every value as mdb-export writes it.
    EXPECT_EQ(differencesFromMdbExport(fixture, folder.file(QStringLiteral("Base.mdb"))),
              QStringList());

    // NULL and the empty text stay apart; Cyrillic with "ё" comes out right; keys keep their gaps.
    SqliteStatement check = db.prepare(QStringLiteral(
        "SELECT (SELECT quote(Юбилей) FROM Main WHERE Код = 11), (SELECT quote(Юбилей) FROM Main "
        "WHERE Код = 4), "
        "(SELECT count(*) FROM Main WHERE Код = 7), (SELECT ФИО FROM Main WHERE Код = 3), "
        "(SELECT quote(Год) FROM Main WHERE Код = 20), (SELECT sql FROM sqlite_schema WHERE name = "
        "'Main')"));
    ASSERT_TRUE(check.step());
    EXPECT_EQ(check.columnText(0), QStringLiteral("''"));
    EXPECT_EQ(check.columnText(1), QStringLiteral("NULL"));
    EXPECT_EQ(check.columnInt64(2), 0);
    EXPECT_EQ(check.columnText(3), QStringLiteral("Фёдорова Алёна Петровна"));
    EXPECT_EQ(check.columnText(4), QStringLiteral("NULL"));
    EXPECT_TRUE(
        check.columnText(5).contains(QStringLiteral("\"Код\" INTEGER PRIMARY KEY AUTOINCREMENT")));

    // A new person continues the numbering after the last key.
    db.exec(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Новый')"));
    EXPECT_EQ(db.lastInsertRowId(), 22);
}

TEST(ReestrDbImport, FailuresSayWhyAndLeaveNothingBehind)
{
    TempFolder folder;
    const auto fails = [&](const QStringList &arguments, const QString &because) {
        const QStringList before = filesIn(folder.path());
        const ProgramRun result = reestrDb(arguments, folder.path());
        EXPECT_EQ(result.status, 1) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(result.err.contains(because)) << result.err.toStdString();
        EXPECT_EQ(filesIn(folder.path()), before) << "nothing written";
    };
    fails({QStringLiteral("import"), folder.file(QStringLiteral("нет.mdb"))},
          QStringLiteral("не найден"));

    {
        // Behind a folder that cannot be entered the file is unreadable, not missing. Root enters
        // every folder, so then the tool runs as nobody.
        TempFolder outer;
        QDir(outer.path()).mkdir(QStringLiteral("closed"));
        const QString closed = outer.file(QStringLiteral("closed"));
        ASSERT_TRUE(QFile::copy(fixture, closed + QStringLiteral("/old.mdb")));
        ASSERT_EQ(::chmod(QFile::encodeName(closed).constData(), 0), 0);
        QStringList command = {QStringLiteral(REESTR_DB_PATH), QStringLiteral("import"),
                               closed + QStringLiteral("/old.mdb")};
        if (::geteuid() == 0)
            command = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups")} +
                      command;
        const ProgramRun result =
            runProgram(::geteuid() == 0 ? QStringLiteral("setpriv") : command.takeFirst(), command,
                       QStringLiteral("/"));
        ::chmod(QFile::encodeName(closed).constData(), 0700);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.contains(QStringLiteral("не читается"))) << result.err.toStdString();
        EXPECT_FALSE(result.err.contains(QStringLiteral("не найден"))) << result.err.toStdString();
    }

    QFile text(folder.file(QStringLiteral("notes.mdb")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(4096, 'x'));
    text.close();
    fails({QStringLiteral("import"), text.fileName()}, QStringLiteral("не база данных Access"));

    QFile target(folder.file(QStringLiteral("Base.mdb")));
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write("keep");
    target.close();
    fails({QStringLiteral("import"), fixture}, QStringLiteral("уже существует"));
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_EQ(target.readAll(), QByteArray("keep"));
    target.close();
    QFile::remove(target.fileName());

    // A file cut short, as a broken copy from a flash drive would be.
    QFile whole(fixture);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QFile cut(folder.file(QStringLiteral("cut.mdb")));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() / 3));
    cut.close();
    fails({QStringLiteral("import"), cut.fileName()}, QStringLiteral("обрезан"));
    // Cut at a page boundary it is still incomplete: the list of its tables is missing.
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
    cut.write(bytes.left(bytes.size() - 4096));
    cut.close();
    fails({QStringLiteral("import"), cut.fileName()}, QStringLiteral("обрезан"));

    for (const QStringList &bad :
         {QStringList{QStringLiteral("import")},
          QStringList{QStringLiteral("import"), QStringLiteral("--codepage")},
          QStringList{QStringLiteral("import"), QStringLiteral("a"), QStringLiteral("b"),
                      QStringLiteral("c")}}) {
        EXPECT_EQ(reestrDb(bad, folder.path()).status, 2)
            << bad.join(QLatin1Char(' ')).toStdString();
    }
}

namespace {

// One damaged copy of the old register and what was done to it.
struct Damage
{
    QString what;
    QByteArray bytes;
};

void putLittleEndian(QByteArray &bytes, qsizetype at, quint32 value, int size)
{
    for (int i = 0; i < size && at + i < bytes.size(); ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

// Table definition pages (type 2) of the Jet 4 file, with the fields libmdb trusts: the row
// count, the column count, the index counts and the usage map; then truncations and a seeded
// sample of single changed bytes anywhere.
std::vector<Damage> damagedCopies()
{
    const QByteArray whole = fixtureBytes();
    constexpr qsizetype page = 4096;
    std::vector<Damage> copies;
    for (qsizetype at = 0; at + page <= whole.size(); at += page) {
        if (whole[at] != 0x02 || whole[at + 1] != 0x01)
            continue;
        const qsizetype number = at / page;
        const struct
        {
            const char *field;
            qsizetype offset;
            quint32 value;
            int size;
        } fields[] = {
            {"column count 0xFFFF", 45, 0xFFFF, 2},   {"column count 0", 45, 0, 2},
            {"absurd row count", 16, 0x7FFFFFFF, 4},  {"index count", 51, 0xFFFF, 4},
            {"usage map pointer", 55, 0xFFFFFFFF, 4}, {"first data page", 56, 0x00FFFFFF, 3}};
        for (const auto &field : fields) {
            QByteArray bytes = whole;
            putLittleEndian(bytes, at + field.offset, field.value, field.size);
            copies.push_back(
                {QStringLiteral("page %1: %2").arg(number).arg(QLatin1String(field.field)), bytes});
        }
    }
    for (qsizetype cut :
         {qsizetype(page), qsizetype(3 * page), whole.size() / 2, whole.size() - page})
        copies.push_back({QStringLiteral("cut to %1 bytes").arg(cut), whole.left(cut)});
    std::mt19937 random(20261207);
    for (int i = 0; i < 120; ++i) {
        QByteArray bytes = whole;
        const auto at = qsizetype(random() % quint32(whole.size()));
        const char value = char(random() & 0xFF);
        if (bytes[at] == value)
            continue;
        bytes[at] = value;
        copies.push_back({QStringLiteral("byte %1 set to %2").arg(at).arg(quint8(value)), bytes});
    }
    return copies;
}

} // namespace

TEST(ReestrDbImport, TheOldBaseMdbIsConvertedWhereItLiesAndKeptUnderANameThatSaysWhatItIs)
{
    TempFolder folder;
    const QByteArray old = fixtureBytes();
    writeFile(folder.file(QStringLiteral("Base.mdb")), old);
    // The very command the program's box gives.
    const ProgramRun first =
        reestrDb({QStringLiteral("import"), QStringLiteral("Base.mdb")}, folder.path());
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("Base.access.mdb"))) << first.out.toStdString();
    EXPECT_EQ(filesIn(folder.path()),
              (QStringList{QStringLiteral("Base.access.mdb"), QStringLiteral("Base.mdb")}));
    QFile kept(folder.file(QStringLiteral("Base.access.mdb")));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), old) << "the old file is kept byte for byte";
    SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                        SqliteConnection::Mode::OpenExisting);
    SqliteStatement count = db.prepare(QStringLiteral("SELECT count(*) FROM Main"));
    ASSERT_TRUE(count.step());
    EXPECT_EQ(count.columnInt64(0), 20);

    // A second old file in the same place is kept beside the first, never over it.
    TempFolder again;
    writeFile(again.file(QStringLiteral("Base.mdb")), old);
    writeFile(again.file(QStringLiteral("Base.access.mdb")), "an earlier copy");
    const ProgramRun second =
        reestrDb({QStringLiteral("import"), QStringLiteral("Base.mdb")}, again.path());
    ASSERT_EQ(second.status, 0) << second.err.toStdString();
    EXPECT_EQ(filesIn(again.path()),
              (QStringList{QStringLiteral("Base.access-2.mdb"), QStringLiteral("Base.access.mdb"),
                           QStringLiteral("Base.mdb")}));
    QFile earlier(again.file(QStringLiteral("Base.access.mdb")));
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), QByteArray("an earlier copy"));
}

TEST(ReestrDbImport, DamagedFilesEndWithAMessageNeverACrashAHangOrALeftoverFile)
{
    const std::vector<Damage> copies = damagedCopies();
    ASSERT_GT(copies.size(), 100u);
    int refused = 0;
    for (const Damage &damage : copies) {
        TempFolder folder;
        const QString source = folder.file(QStringLiteral("old.mdb"));
        writeFile(source, damage.bytes);
        QProcess process;
        process.setWorkingDirectory(folder.path());
        process.start(
            QStringLiteral(REESTR_DB_PATH),
            {QStringLiteral("import"), QStringLiteral("old.mdb"), QStringLiteral("new.mdb")});
        const bool ended = process.waitForFinished(90000);
        if (!ended)
            process.kill(), process.waitForFinished();
        const QString err = QString::fromUtf8(process.readAllStandardError());
        SCOPED_TRACE(damage.what.toStdString() + "\n" + err.toStdString());
        ASSERT_TRUE(ended) << "hung";
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << "crashed";
        const int status = process.exitCode();
        ASSERT_TRUE(status == 0 || status == 1) << status;
        if (status == 1) {
            ++refused;
            EXPECT_TRUE(err.startsWith(QStringLiteral("reestr-db: "))) << "a message";
            EXPECT_TRUE(err.contains(QStringLiteral("old.mdb")) ||
                        err.contains(QStringLiteral("Таблица «")))
                << "naming the file or the table";
            EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << "libmdb's own chatter stays quiet";
            EXPECT_EQ(filesIn(folder.path()), QStringList{QStringLiteral("old.mdb")})
                << "nothing left beside the target";
        } else {
            EXPECT_EQ(filesIn(folder.path()),
                      (QStringList{QStringLiteral("new.mdb"), QStringLiteral("old.mdb")}));
            SqliteConnection db(folder.file(QStringLiteral("new.mdb")),
                                SqliteConnection::Mode::OpenExisting);
            SqliteStatement check = db.prepare(QStringLiteral("PRAGMA integrity_check"));
            ASSERT_TRUE(check.step());
            EXPECT_EQ(check.columnText(0), QStringLiteral("ok"));
            // An import that succeeded holds every row another reader finds in the file.
            EXPECT_EQ(differencesFromMdbExport(source, folder.file(QStringLiteral("new.mdb"))),
                      QStringList());
        }
    }
    EXPECT_GT(refused, 10) << "the damage is real";
}

// Access 97 files keep texts in a code page of their own, which the header need not name: a
// Russian register whose header says 1252, and one of Western names. Nothing here writes such
// files, so the test writes them itself.
TEST(ReestrDbImport, AccessNinetySevenTextsComeOverInTheCodePageTheyWereWrittenIn)
{
    struct Case
    {
        const char *codePage;
        QStringList columns; // of Main: the key, the name, the birth date, the year
        QStringList people;
    };
    const QList<Case> cases = {
        {"CP1251",
         {u"Код"_s, u"ФИО"_s, u"Дата_рождения"_s, u"Год"_s},
         {u"Иванов Иван Иванович"_s, u"Щёкина Ёлка Эдуардовна"_s, u"Юрьев Ярослав"_s}},
        {"CP1252",
         {u"Kod"_s, u"FIO"_s, u"Data_rozhdeniya"_s, u"God"_s},
         {u"Müller Jürgen"_s, u"Ørsted Åse"_s, u"François Lefèvre"_s}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.codePage);
        JetFile::Table main{
            u"Main"_s,
            {{c.columns[0], 0, true}, {c.columns[1], 255}, {c.columns[2], 50}, {c.columns[3]}},
            {}};
        for (int i = 0; i < c.people.size(); ++i)
            main.rows.append({i + 1, c.people[i], i == 1 ? QVariant() : u"01.02.1960"_s, 1960});
        TempFolder folder;
        const QString old = folder.file(u"old.mdb"_s);
        JetFile::write(old,
                       {main,
                        {u"God"_s, {{c.columns[3]}}, {{1990}, {2025}}},
                        {u"Mesyats"_s, {{u"Mesyats"_s}}, {{1}, {12}}},
                        {u"Chislo"_s, {{u"Chislo"_s}}, {{31}}}},
                       {JetFile::Version::Jet3, c.codePage, 1252});
        const ProgramRun run = reestrDb({u"import"_s, old}, folder.path());
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        SqliteConnection db(folder.file(u"Base.mdb"_s), SqliteConnection::Mode::OpenExisting);
        SqliteStatement imported =
            db.prepare(u"SELECT (SELECT group_concat(name, '|') FROM pragma_table_info('Main')), "
                       "group_concat(%1, '|') FROM (SELECT * FROM Main ORDER BY 1)"_s.arg(
                           quoteIdentifier(c.columns[1])));
        ASSERT_TRUE(imported.step());
        EXPECT_EQ(imported.columnText(0).split(u'|').mid(0, 4), c.columns);
        EXPECT_EQ(imported.columnText(1), c.people.join(u'|'));
    }
}

TEST(ReestrDbImport, SpecialFilesAreNamedForWhatTheyAre)
{
    TempFolder folder;
    QDir(folder.path()).mkdir(QStringLiteral("folder.mdb"));
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(folder.file(QStringLiteral("pipe.mdb"))).constData(), 0600), 0);
    writeFile(folder.file(QStringLiteral("empty.mdb")), QByteArray());
    QFile::link(QStringLiteral("loop.mdb"), folder.file(QStringLiteral("loop.mdb")));
    QFile::link(QStringLiteral("gone.mdb"), folder.file(QStringLiteral("dangling.mdb")));
    const struct
    {
        const char *file;
        const char *said;
    } cases[] = {{"folder.mdb", "папка"},
                 {"pipe.mdb", "не обычный файл"},
                 {"empty.mdb", "пуст"},
                 {"loop.mdb", "по кругу"},
                 {"dangling.mdb", "gone.mdb"}};
    for (const auto &c : cases) {
        const ProgramRun result = reestrDb(
            {QStringLiteral("import"), QString::fromUtf8(c.file), QStringLiteral("new.mdb")},
            folder.path());
        EXPECT_EQ(result.status, 1) << c.file;
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.said))) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.file))) << result.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("new.mdb"))));
}
