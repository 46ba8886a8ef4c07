// reestr-db import: an Access file of the old program into the program's database, checked
// against what mdbtools' own commands say of the same file.
#include "TempDatabase.h"
#include "platform/Sqlite.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const QString fixture = QStringLiteral(REESTR_FIXTURES "/jet4-Base.mdb");

struct Output
{
    int status;
    QString out;
    QString err;
};

Output run(const QString &program, const QStringList &arguments, const QString &folder = QString())
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Output reestrDb(const QStringList &arguments, const QString &folder)
{
    return run(QStringLiteral(REESTR_DB_PATH), arguments, folder);
}

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

// Files in a folder, hidden ones included: an import must leave nothing behind.
QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

TEST(ReestrDbImport, EveryRowAndTypeComesOverAsMdbtoolsReadsThem)
{
    TempFolder folder;
    const Output imported = reestrDb({QStringLiteral("import"), fixture}, folder.path());
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains(QStringLiteral("Main: 20"))) << imported.out.toStdString();
    EXPECT_EQ(filesIn(folder.path()), QStringList{QStringLiteral("Base.mdb")});

    SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                        SqliteConnection::Mode::OpenExisting);
    const QStringList tables = run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), fixture})
                                   .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(tables, (QStringList{QStringLiteral("Main"), QStringLiteral("God"),
                                   QStringLiteral("Mesyats"), QStringLiteral("Chislo")}));

    // Types: mdb-schema's Access names against the declared types.
    const QString schema =
        run(QStringLiteral("mdb-schema"), {fixture, QStringLiteral("access")}).out;
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

    // Rows: every value as mdb-export writes it (it shows NULL and an empty text alike).
    for (const QString &table : tables) {
        QStringList lines = run(QStringLiteral("mdb-export"),
                                {QStringLiteral("-0"), QStringLiteral("<null>"), fixture, table})
                                .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList header = csvFields(lines.takeFirst());
        SqliteStatement rows = db.prepare(
            QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(quoteIdentifier(table)));
        for (const QString &line : lines) {
            ASSERT_TRUE(rows.step()) << table.toStdString();
            const QStringList expected = csvFields(line);
            ASSERT_EQ(rows.columnCount(), expected.size());
            for (int c = 0; c < rows.columnCount(); ++c) {
                const bool empty = rows.columnType(c) == SqliteStatement::Type::Null ||
                                   rows.columnText(c).isEmpty();
                if (expected[c] == QLatin1String("<null>"))
                    EXPECT_TRUE(empty) << table.toStdString() << " " << line.toStdString();
                else
                    EXPECT_EQ(rows.columnText(c), expected[c])
                        << table.toStdString() << "." << header[c].toStdString();
            }
        }
        EXPECT_FALSE(rows.step()) << "no more rows than the source";
    }

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
    EXPECT_EQ(check.columnText(3), QStringLiteral("Сидоров Пётр Алексеевич"));
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
        const Output result = reestrDb(arguments, folder.path());
        EXPECT_EQ(result.status, 1) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(result.err.contains(because)) << result.err.toStdString();
        EXPECT_EQ(filesIn(folder.path()), before) << "nothing written";
    };
    fails({QStringLiteral("import"), folder.file(QStringLiteral("нет.mdb"))},
          QStringLiteral("не найден"));

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
    // Cut at a page boundary it is still incomplete: the register's tables are missing.
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
    cut.write(bytes.left(14 * 4096));
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
