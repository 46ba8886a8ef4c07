// "ПЕЧАТЬ": the spreadsheet report of the month list and of the jubilee list, read back from the
// file it writes.
#include "LookupDriver.h"
#include "ProgramFixture.h"
#include "Processes.h"
#include "XlsxReader.h"

#include "controls/DBGrid.h"
#include "controls/TextComboBox.h"
#include "platform/Desktop.h"
#include "platform/Spreadsheet.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The program with its reports written into a folder of the test's own and "opened" into a list.
class ReportsCaught : public ProgramTest
{
protected:
    ReportsCaught()
    {
        Spreadsheet::Session::setOutputFolder(m_reports.path());
        Desktop::setDocumentOpener([this](const QString &path) { opened << path; });
    }
    ~ReportsCaught() override
    {
        Desktop::setDocumentOpener(nullptr);
        Spreadsheet::Session::setOutputFolder(QString());
    }

    TempFolder m_reports;
    QStringList opened;
};

class ReportTest : public ReportsCaught
{
protected:
    ReportTest()
    {
        exec(QStringLiteral(
            "INSERT INTO Main (ФИО, Дата_рождения, Год, Месяц) VALUES "
            "('Иванов Сергей', '12.03.1975', 1975, 3), ('Петрова Анна', '01.03.2000', 2000, 3), "
            "('Сидоров Олег', '05.07.1990', 1990, 7)"));
        startProgram();
    }
    void search(const QString &month)
    {
        frmMain->edt2->setText(month);
        QTest::mouseClick(frmMain->btn8, Qt::LeftButton);
    }
    void print(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
};

TEST_F(ReportTest, TheMonthListBecomesASheetWithTitleHeadersAndOneRowPerPerson)
{
    frmMain->cbb2->setEditText(QStringLiteral("2025"));
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    exec(QStringLiteral("INSERT INTO Main (ФИО, Месяц) VALUES ('Новиков Пётр', 3)")); // no age yet
    search(QStringLiteral("март"));
    print(frmMain->btn1);
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(QFileInfo(opened[0]).fileName().startsWith(QStringLiteral("ОТЧЕТ")));
    EXPECT_EQ(QFileInfo(opened[0]).absolutePath(), QFileInfo(m_reports.path()).absoluteFilePath());

    const XlsxReader sheet(opened[0]);
    EXPECT_EQ(sheet.sheetNames(), QStringList{QStringLiteral("ОТЧЕТ")});
    const QMap<int, double> widths = sheet.columnWidths();
    const QList<double> expected = {15, 25, 15, 25, 15, 10, 10, 30};
    for (int column = 1; column <= 8; ++column)
        EXPECT_DOUBLE_EQ(widths.value(column), expected[column - 1]) << "column " << column;

    const XlsxReader::RowFont title = sheet.rowFonts().value(1);
    EXPECT_TRUE(title.bold);
    EXPECT_EQ(title.size, 16);
    EXPECT_EQ(title.rgb, QStringLiteral("FF0000FF")) << "16711680 is blue, green, red: blue";
    EXPECT_TRUE(sheet.rowFonts().value(2).bold);
    EXPECT_FALSE(sheet.rowFonts().contains(3));

    const QMap<QString, QString> cells = sheet.cells();
    EXPECT_TRUE(
        cells.value(QStringLiteral("B1")).startsWith(QStringLiteral("РЕЗУЛЬТАТЫ ПОИСКА: ")));
    EXPECT_TRUE(cells.value(QStringLiteral("B1")).contains(QStringLiteral("2025")));
    EXPECT_FALSE(cells.contains(QStringLiteral("A1")));
    EXPECT_EQ(cells.value(QStringLiteral("A2")), QStringLiteral("ФИО"));
    EXPECT_EQ(cells.value(QStringLiteral("B2")), QStringLiteral("Дата рождения"));
    EXPECT_EQ(cells.value(QStringLiteral("C2")), QStringLiteral("Возраст"));
    EXPECT_EQ(cells.value(QStringLiteral("D2")), QStringLiteral("Юбилей"));
    EXPECT_EQ(cells.value(QStringLiteral("A3")), QStringLiteral("Иванов Сергей"));
    EXPECT_EQ(cells.value(QStringLiteral("B3")), QStringLiteral("12.03.1975"));
    EXPECT_EQ(cells.value(QStringLiteral("C3")), QStringLiteral("50"));
    EXPECT_TRUE(sheet.isNumber().value(QStringLiteral("C3")));
    EXPECT_EQ(cells.value(QStringLiteral("D3")), QStringLiteral("да"));
    EXPECT_EQ(cells.value(QStringLiteral("C4")), QStringLiteral("25"));
    EXPECT_EQ(cells.value(QStringLiteral("A5")), QStringLiteral("Новиков Пётр"));
    EXPECT_EQ(cells.value(QStringLiteral("C5")), QStringLiteral("0"))
        << "an empty age is written as 0";
    EXPECT_EQ(cells.value(QStringLiteral("D5")), QString());
    EXPECT_EQ(sheet.lastRow(), 5);

    // The list's grid followed the walk and shows the last record as current.
    QCoreApplication::processEvents();
    EXPECT_EQ(DM->qryZapros1.currentRow(), 2);
    EXPECT_EQ(frmMain->dbgrd2->currentCell().row(), 2);
}

TEST_F(ReportTest, AnEmptyListGivesTitleAndHeadersOnlyAndOneRecordGivesRowThree)
{
    search(QStringLiteral("январь"));
    print(frmMain->btn1);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(XlsxReader(opened[0]).lastRow(), 2);

    search(QStringLiteral("июль"));
    print(frmMain->btn1);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_NE(opened[0], opened[1]) << "each press gives its own file";
    const XlsxReader one(opened[1]);
    EXPECT_EQ(one.lastRow(), 3);
    EXPECT_EQ(one.cells().value(QStringLiteral("A3")), QStringLiteral("Сидоров Олег"));
    EXPECT_EQ(DM->qryZapros1.FieldNamed(QStringLiteral("ФИО")).AsText(),
              QStringLiteral("Сидоров Олег"));
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(ReportTest, TheJubileeListCarriesTheSameTitle)
{
    frmMain->cbb2->setEditText(QStringLiteral("2025"));
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    // Another year in the box: the list and its title are still those of the ages stored.
    frmMain->cbb2->setEditText(QStringLiteral("2026"));
    QTest::mouseClick(frmMain->btn3, Qt::LeftButton);
    print(frmMain->btn6);
    ASSERT_EQ(opened.size(), 1);
    const XlsxReader sheet(opened[0]);
    EXPECT_TRUE(sheet.cells().value(QStringLiteral("B1")).contains(QStringLiteral("2025")));
    EXPECT_EQ(sheet.cells().value(QStringLiteral("A3")), QStringLiteral("Иванов Сергей"));
    EXPECT_EQ(sheet.cells().value(QStringLiteral("A4")), QStringLiteral("Петрова Анна")); // 25
    EXPECT_EQ(sheet.cells().value(QStringLiteral("A5")), QStringLiteral("Сидоров Олег")); // 35
    EXPECT_EQ(sheet.lastRow(), 5);
}

TEST_F(ReportTest, AClosedListStillGivesTheTitledSheetAndThenTheErrorBox)
{
    print(frmMain->btn1);
    EXPECT_EQ(dialogs.errors,
              QStringList{QStringLiteral(
                  "qryZapros1: Cannot perform this operation on a closed dataset.")});
    ASSERT_EQ(opened.size(), 1);
    const XlsxReader sheet(opened[0]);
    EXPECT_EQ(sheet.cells().value(QStringLiteral("D2")), QStringLiteral("Юбилей"));
    EXPECT_EQ(sheet.lastRow(), 2);
}

TEST_F(ReportTest, WhenTheSpreadsheetCannotStartOnlyTheErrorBoxShows)
{
    QFile blocker(m_reports.file(QStringLiteral("not a folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Spreadsheet::Session::setOutputFolder(blocker.fileName() + QStringLiteral("/reports"));
    search(QStringLiteral("март"));
    print(frmMain->btn1);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].endsWith(QStringLiteral(", ProgID: \"Reestr.Spreadsheet\"")))
        << dialogs.errors[0].toStdString() << " (no full stop after the quote)";
    EXPECT_GT(dialogs.errors[0].size(), QStringLiteral(", ProgID: \"Reestr.Spreadsheet\"").size());
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(ReportTest, WhenNothingOpensTheWorkbookABoxSaysWhereItWasSaved)
{
    Desktop::setDocumentOpener(nullptr); // the real opener, found on PATH
    const QByteArray path = qgetenv("PATH");
    TempFolder bin;
    QFile opener(bin.file(QStringLiteral("xdg-open")));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\necho 'xdg-open: no method available for opening' \"$1\"\nexit 3\n");
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    for (const QByteArray &searched : {QFile::encodeName(bin.path()), QByteArray("/nonexistent")}) {
        qputenv("PATH", searched);
        dialogs.errors.clear();
        search(QStringLiteral("март"));
        print(frmMain->btn1);
        QDeadlineTimer deadline(20000);
        while (dialogs.errors.isEmpty() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_EQ(dialogs.errors.size(), 1) << searched.constData();
        const QStringList saved =
            QDir(m_reports.path()).entryList({QStringLiteral("*.xlsx")}, QDir::Files, QDir::Time);
        ASSERT_FALSE(saved.isEmpty());
        EXPECT_TRUE(dialogs.errors[0].contains(
            QDir::toNativeSeparators(QDir(m_reports.path()).filePath(saved.first()))))
            << dialogs.errors[0].toStdString();
    }
    qputenv("PATH", path);
}

TEST(SpreadsheetTest, CellsWrittenInAnyOrderLandInPlaceAndTheLastValueAtAPlaceStands)
{
    TempFolder folder;
    Spreadsheet::Session::setOutputFolder(folder.path());
    const std::unique_ptr<Spreadsheet::Session> session = Spreadsheet::Session::create();
    Spreadsheet::Worksheet sheet = session->workbooks().add(-4167).worksheet(1);
    sheet.setCell(3, 1, QStringLiteral("третья строка"));
    sheet.setCell(1, 2, QStringLiteral("заменено"));
    sheet.setCell(2, 1, QStringLiteral("вторая"));
    sheet.setCell(1, 2, 5.0);
    sheet.setCell(2, 1, QStringLiteral("вторая, снова"));
    const QStringList files = session->release();
    Spreadsheet::Session::setOutputFolder(QString());

    ASSERT_EQ(files.size(), 1);
    const XlsxReader book(files[0]);
    EXPECT_EQ(book.cells(),
              (QMap<QString, QString>{{QStringLiteral("A2"), QStringLiteral("вторая, снова")},
                                      {QStringLiteral("A3"), QStringLiteral("третья строка")},
                                      {QStringLiteral("B1"), QStringLiteral("5")}}));
    EXPECT_TRUE(book.isNumber().value(QStringLiteral("B1")));
}

// A register moved in from an Access file whose Main carries columns of the office's own beside
// the register's: a date and binary data, declared as the import declares them. The month list
// shows them (the date in Russian form, the binary data by its size), a date typed in the grid is
// stored as a date, the binary data cannot be changed, and the report keeps its four columns.
class ImportedColumnsTest : public ReportsCaught
{
protected:
    ImportedColumnsTest()
    {
        exec(QStringLiteral("ALTER TABLE Main ADD COLUMN Принят DATETIME"));
        exec(QStringLiteral("ALTER TABLE Main ADD COLUMN Фото BLOB"));
        exec(
            QStringLiteral("INSERT INTO Main (ФИО, Дата_рождения, Год, Месяц, Принят, Фото) VALUES "
                           "('Иванов', '12.03.1975', 1975, 3, '2021-12-02 08:30:00', "
                           "zeroblob(12345)), ('Петров', '01.03.1990', 1990, 3, '0632-01-01', "
                           "NULL)"));
        startProgram();
    }
    // The grid's cells of one column, top to bottom.
    QStringList column(const QString &title)
    {
        catchUp();
        DBGrid *grid = frmMain->dbgrd2;
        for (int c = 0; c < grid->columnCount(); ++c) {
            if (grid->columnTitle(c) != title)
                continue;
            QStringList cells;
            for (int row = 0; row < grid->model()->rowCount(); ++row)
                cells << grid->model()->index(row, c).data().toString();
            return cells;
        }
        return {QStringLiteral("no column %1").arg(title)};
    }
    // Each letter to whichever widget has the focus then: the grid opens its editor on the first.
    void type(const QString &text)
    {
        for (const QChar c : text)
            typeText(QApplication::focusWidget(), QString(c));
    }
};

TEST_F(ImportedColumnsTest, TheMonthListShowsThemAndTheReportKeepsItsFourColumns)
{
    frmMain->edt2->setText(QStringLiteral("март"));
    QTest::mouseClick(frmMain->btn8, Qt::LeftButton);
    EXPECT_EQ(column(QStringLiteral("Принят")),
              QStringList({QStringLiteral("02.12.2021 08:30:00"), QStringLiteral("01.01.0632")}));
    EXPECT_EQ(column(QStringLiteral("Фото")),
              QStringList({QStringLiteral("(двоичные данные, 12 345 байт)"), QString()}));

    // Typed over in the grid: Иванов's date in Russian form, then an attempt on his photo.
    DBGrid *grid = frmMain->dbgrd2;
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Home);
    for (int i = 0; i < 7; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    type(QStringLiteral("15.01.2022 09:05"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    type(QStringLiteral("12"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    catchUp();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(stored(QStringLiteral("SELECT Принят || ' ' || length(Фото) FROM Main "
                                    "WHERE ФИО = 'Иванов'")),
              QStringLiteral("2022-01-15 09:05:00 12345"));
    EXPECT_EQ(column(QStringLiteral("Принят")).value(0), QStringLiteral("15.01.2022 09:05:00"));

    QTest::mouseClick(frmMain->btn1, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    const XlsxReader sheet(opened[0]);
    const QMap<QString, QString> cells = sheet.cells();
    EXPECT_EQ(cells.value(QStringLiteral("D2")), QStringLiteral("Юбилей"));
    EXPECT_FALSE(cells.contains(QStringLiteral("E2")));
    EXPECT_FALSE(cells.contains(QStringLiteral("E3")));
    EXPECT_EQ(cells.value(QStringLiteral("A3")), QStringLiteral("Иванов"));
}
