// Every column type of an Access file read with its value kept: the reader's own frames checked
// against mdbtools' export of the same file (where its conversion is right) and against dates
// worked out by hand, on the shared test file of dates and on copies of it whose column types
// were changed on the table's definition page.
#include "Fixtures.h"
#include "Processes.h"
#include "TempDatabase.h"

#include "register/ImportStream.h"
#include "register/JetReader.h"
#include "register/JetValues.h"

#include <QFile>

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct ReadTable
{
    QString name;
    QStringList declarations; // "column TYPE"
    QList<QStringList> rows;  // each value shown: text, number, "null" or "bytes:HEX"
};

struct ReadFile
{
    QList<ReadTable> tables;
    QStringList skipped;
    QString failure;
};

QString shown(const ImportStream::Cell &cell)
{
    if (cell.bytes)
        return QStringLiteral("bytes:") + QString::fromLatin1(cell.bytes->toHex());
    if (std::holds_alternative<std::monostate>(cell.value))
        return QStringLiteral("null");
    if (const auto *integer = std::get_if<qint64>(&cell.value))
        return QString::number(*integer);
    if (const auto *real = std::get_if<double>(&cell.value))
        return QString::number(*real, 'g', 17);
    return std::get<QString>(cell.value);
}

// What the reader sends for a file, gathered from its frames.
ReadFile readWithTheReader(const QString &path, bool skipUnsupported)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    std::thread reader([&] {
        JetReader::sendDatabase(path, QString(), skipUnsupported, fds[1]);
        ::close(fds[1]);
    });
    ReadFile file;
    std::vector<int> columnCounts;
    ImportStream::Kind kind;
    QByteArray payload;
    int table = -1;
    while (ImportStream::readFrame(fds[0], kind, payload)) {
        ImportStream::Reader in(payload);
        switch (kind) {
        case ImportStream::Kind::Table: {
            ReadTable read;
            read.name = in.text();
            const qint64 count = in.number();
            for (qint64 i = 0; i < count; ++i) {
                const QString name = in.text();
                read.declarations << name + QLatin1Char(' ') + in.text();
            }
            columnCounts.push_back(int(count));
            file.tables << read;
            break;
        }
        case ImportStream::Kind::Skipped: {
            const QString table = in.text();
            const QString column = in.text();
            file.skipped << QStringLiteral("%1.%2 %3").arg(table, column, in.text());
            break;
        }
        case ImportStream::Kind::Begin:
            table = int(in.number());
            break;
        case ImportStream::Kind::Row: {
            QStringList row;
            for (int i = 0; i < columnCounts[size_t(table)]; ++i)
                row << shown(in.cell());
            file.tables[table].rows << row;
            break;
        }
        case ImportStream::Kind::Failure:
            file.failure = in.text();
            break;
        default:
            break;
        }
    }
    reader.join();
    ::close(fds[0]);
    return file;
}

// mdbtools' export of one table as rows of values (binary fields in hex, dates in ISO form).
QList<QStringList> exported(const QString &path, const QString &table)
{
    const ProgramRun run = runProgram(
        QStringLiteral("mdb-export"),
        {QStringLiteral("-H"), QStringLiteral("-b"), QStringLiteral("hex"), QStringLiteral("-d"),
         QStringLiteral("\t"), QStringLiteral("-R"), QStringLiteral("\x1e"), QStringLiteral("-q"),
         QString(), QStringLiteral("-T"), QStringLiteral("%Y-%m-%d"), path, table});
    QList<QStringList> rows;
    for (const QString &line : run.out.split(QChar(0x1e), Qt::SkipEmptyParts))
        rows << line.split(QLatin1Char('\t'));
    return rows;
}

// A copy of the test file of dates with the types of some columns of its table changed on the
// table's definition page: {column number, new Jet type}.
QString withColumnTypes(const TempFolder &folder, const QString &original,
                        const std::vector<std::pair<int, char>> &changes)
{
    QFile in(original);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = in.readAll();
    constexpr int page = 4096;
    constexpr int columnsStart = 63;
    constexpr int columnEntry = 25;
    // The table's definition: a definition page (type 2) of six columns, no index, whose column
    // entries are Long, Date/Time x3, Memo, Text.
    for (qsizetype at = 0; at + page <= bytes.size(); at += page) {
        const auto byte = [&](qsizetype offset) { return quint8(bytes[at + offset]); };
        const auto entryType = [&](int column) {
            return byte(columnsStart + column * columnEntry);
        };
        if (byte(0) != 2 || byte(45) != 6 || byte(51) != 0 || entryType(0) != 4 ||
            entryType(1) != 8 || entryType(2) != 8 || entryType(3) != 8 || entryType(4) != 12 ||
            entryType(5) != 10)
            continue;
        for (const auto &[column, type] : changes)
            bytes[at + columnsStart + column * columnEntry] = type;
        const QString path = folder.file(QStringLiteral("changed.mdb"));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            return {};
        return path;
    }
    return {};
}

} // namespace

TEST(JetValues, DatesCurrencyAndCodePagesDecodeAsJetAndWindowsDefineThem)
{
    // Days since 30 December 1899; before it the whole part is negative and the fraction is still
    // the time of day.
    const std::pair<double, const char *> dates[] = {
        {0, "1899-12-30"},
        {1.25, "1899-12-31 06:00:00"},
        {-1.5, "1899-12-29 12:00:00"},
        {-0.75, "1899-12-30 18:00:00"},
        {2, "1900-01-01"},
        {44532.999994, "2021-12-02 23:59:59"},
        {44532.9999999, "2021-12-03"},
        {-1.9999999, "1899-12-30"},
        {2958465.9999884, "9999-12-31 23:59:59"},
        {-657434, "0100-01-01"},
    };
    for (const auto &[days, text] : dates)
        EXPECT_EQ(JetValues::dateText(days), QString::fromLatin1(text)) << days;

    const std::pair<qint64, const char *> money[] = {
        {0, "0.0000"},
        {1, "0.0001"},
        {-1, "-0.0001"},
        {123456789, "12345.6789"},
        {-50000, "-5.0000"},
        {std::numeric_limits<qint64>::max(), "922337203685477.5807"},
        {std::numeric_limits<qint64>::min(), "-922337203685477.5808"},
    };
    for (const auto &[units, text] : money)
        EXPECT_EQ(JetValues::scaledDecimalText(units, 4), QString::fromLatin1(text)) << units;

    const QByteArray russian =
        QByteArray("\xC8\xE2\xE0\xED\xEE\xE2 \xC8\xE2\xE0\xED"); // Иванов Иван
    const QByteArray german = QByteArray("Ums\xE4tze");          // Umsätze in Windows-1252
    const struct
    {
        QList<QByteArray> texts;
        int header;
        const char *chosen;
    } pages[] = {
        {{"Main", "God", russian, russian}, 1252, "CP1251"},
        {{"Main", russian}, 0, "CP1251"},
        {{german, "Kunde",
          "Stra\xDF"
          "e"},
         1252,
         "CP1252"},
        {{german}, 0, "CP1252"},
        {{"Main", "Anna"}, 1250, "CP1250"},
    };
    for (const auto &c : pages)
        EXPECT_EQ(JetValues::chooseCodePage(c.texts, c.header), QString::fromLatin1(c.chosen));
}

TEST(JetTypes, EveryColumnTypeIsReadWithItsValueKept)
{
    const QString dates = sharedFixture("DateTestDatabase.mdb");
    REQUIRE_FIXTURE(dates);
    const ReadFile original = readWithTheReader(dates, false);
    ASSERT_EQ(original.failure, QString());
    const auto dateTest = std::find_if(original.tables.begin(), original.tables.end(),
                                       [](const ReadTable &t) { return t.name == u"DateTest"_s; });
    ASSERT_NE(dateTest, original.tables.end());
    EXPECT_EQ(dateTest->declarations,
              QStringList({u"IDCol INTEGER"_s, u"DateTimeCol DATETIME"_s, u"DateCol DATETIME"_s,
                           u"TimeCol DATETIME"_s, u"LongTextCol TEXT"_s,
                           u"ShortTextCol VARCHAR(255)"_s}));
    // The days of the file's own doubles, counted by hand from 30 December 1899.
    const QStringList expectedDates[] = {{u"2021-12-02"_s, u"2021-12-02"_s, u"2021-12-02"_s},
                                         {u"9999-01-01"_s, u"9999-01-01"_s, u"9999-01-01"_s},
                                         {u"1898-01-01"_s, u"1899-01-01"_s, u"1900-01-01"_s},
                                         {u"0632-01-01"_s, u"0633-01-01"_s, u"0634-01-01"_s},
                                         {u"2021-12-02"_s, u"2021-12-02"_s, u"2021-12-02"_s},
                                         {u"2021-12-02"_s, u"2021-12-02"_s, u"2021-12-02"_s}};
    const QList<QStringList> export_ = exported(dates, QStringLiteral("DateTest"));
    ASSERT_EQ(dateTest->rows.size(), 6);
    ASSERT_EQ(export_.size(), 6);
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(dateTest->rows[row].mid(1, 3), expectedDates[row]) << row;
        // The key and the texts, the memo's line break included, as mdbtools reads them.
        EXPECT_EQ(dateTest->rows[row][0], export_[row][0]);
        EXPECT_EQ(dateTest->rows[row].mid(4), export_[row].mid(4)) << row;
    }
    EXPECT_TRUE(dateTest->rows[5][4].contains(QLatin1Char('\n')));

    // Currency and Double where dates were (the same eight bytes), an OLE Object where the memo
    // was and Binary where the text was: the same bytes read as those types, as mdbtools reads
    // them.
    TempFolder folder;
    const QString changed =
        withColumnTypes(folder, dates, {{1, 0x05}, {2, 0x07}, {4, 0x0B}, {5, 0x09}});
    ASSERT_FALSE(changed.isEmpty()) << "the table's definition page was not found";
    const ReadFile read = readWithTheReader(changed, false);
    ASSERT_EQ(read.failure, QString());
    const ReadTable &table = read.tables[0].name == u"DateTest"_s ? read.tables[0] : read.tables[1];
    EXPECT_EQ(
        table.declarations,
        QStringList({u"IDCol INTEGER"_s, u"DateTimeCol CURRENCY TEXT(19,4)"_s, u"DateCol DOUBLE"_s,
                     u"TimeCol DATETIME"_s, u"LongTextCol BLOB"_s, u"ShortTextCol BLOB"_s}));
    const QList<QStringList> changedExport = exported(changed, QStringLiteral("DateTest"));
    ASSERT_EQ(table.rows.size(), changedExport.size());
    for (int row = 0; row < table.rows.size(); ++row) {
        const QStringList &mine = table.rows[row];
        const QStringList &theirs = changedExport[row];
        EXPECT_EQ(mine[1], theirs[1]) << "currency, row " << row;
        EXPECT_EQ(mine[2].toDouble(), theirs[2].toDouble()) << "double, row " << row;
        EXPECT_EQ(mine[4], QStringLiteral("bytes:") + theirs[4].toLower()) << "OLE, row " << row;
        EXPECT_EQ(mine[5], QStringLiteral("bytes:") + theirs[5].toLower()) << "binary, row " << row;
    }
    // 44532 as a double's bytes (0x40E5BE8000000000), read as ten-thousandths.
    EXPECT_EQ(table.rows[0][1], QStringLiteral("467635324505921.9456"));

    // A type the reader cannot read (an Access 2007 attachment where a date was): the reading
    // stops naming it, or with --skip-unsupported leaves that column out and names it.
    const QString attachment = withColumnTypes(folder, dates, {{3, 0x12}});
    const ReadFile stopped = readWithTheReader(attachment, false);
    EXPECT_TRUE(stopped.failure.startsWith(
        u"Таблица «DateTest», столбец «TimeCol»: тип Attachment or multi-value не читается"_s))
        << stopped.failure.toStdString();
    EXPECT_TRUE(stopped.failure.contains(QStringLiteral("--skip-unsupported")));
    const ReadFile skipping = readWithTheReader(attachment, true);
    EXPECT_EQ(skipping.failure, QString());
    EXPECT_EQ(skipping.skipped,
              QStringList({QStringLiteral("DateTest.TimeCol Attachment or multi-value")}));
    const ReadTable &rest =
        skipping.tables[0].name == u"DateTest"_s ? skipping.tables[0] : skipping.tables[1];
    EXPECT_EQ(rest.declarations.size(), 5);
    EXPECT_EQ(rest.rows[2].mid(1, 2), QStringList({u"1898-01-01"_s, u"1899-01-01"_s}));
}
