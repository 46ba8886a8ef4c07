// The spreadsheet report of 10,000 listed people against a raw libxlsxwriter loop writing the same
// cells, read beforehand from the same select.
#include "BenchSupport.h"

#include "platform/Desktop.h"
#include "platform/Spreadsheet.h"
#include "engines/sqlite/SqliteConnection.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"
#include "service/Report.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <string>
#include <vector>

namespace {

constexpr int people = 10000;
const QString listSelect = QStringLiteral("select * from Main");

QString lastReport;

void report(benchmark::State &state)
{
    QTemporaryDir out;
    Spreadsheet::Session::setOutputFolder(out.path());
    Desktop::setDocumentOpener([](const QString &path) { lastReport = path; });
    Connection connection(benchDatabase(people));
    RecordSet list(QStringLiteral("qryZapros1"), connection, RecordSet::Kind::Query);
    list.SQL().add(listSelect);
    list.setActive(true);
    for (auto _ : state)
        Report::exportList(list);
    QFile::copy(lastReport, QDir::temp().filePath(QStringLiteral("reestr-bench-report.xlsx")));
}

// The listed people as the raw side gets them: read from the same select before the timing
// starts, as the program's list is open before "ПЕЧАТЬ" is pressed.
struct Listed
{
    std::string name;
    std::string born;
    double age;
    std::string mark;
};

std::vector<Listed> readList(SqliteConnection &db)
{
    std::vector<Listed> listed;
    SqliteStatement select = db.prepare(listSelect);
    while (select.step()) {
        listed.push_back({std::string(select.columnUtf8(1)), std::string(select.columnUtf8(2)),
                          select.columnDouble(6), std::string(select.columnUtf8(7))});
    }
    return listed;
}

// The same workbook: widths, the two formatted rows, the title, the headings and every listed
// person's name, birth date, age and mark.
void writeRaw(const std::vector<Listed> &listed, const QByteArray &path)
{
    lxw_workbook *book = workbook_new(path.constData());
    lxw_worksheet *sheet = workbook_add_worksheet(book, "ОТЧЕТ");
    const double widths[] = {15, 25, 15, 25, 15, 10, 10, 30};
    for (int c = 0; c < 8; ++c)
        worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), widths[c], nullptr);
    lxw_format *bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format *title = workbook_add_format(book);
    format_set_bold(title);
    format_set_font_color(title, 0x0000FF);
    format_set_font_size(title, 16);
    worksheet_set_row(sheet, 0, 21, title);
    worksheet_set_row(sheet, 1, LXW_DEF_ROW_HEIGHT, bold);
    worksheet_write_string(sheet, 0, 1, "РЕЗУЛЬТАТЫ ПОИСКА: ", nullptr);
    const char *headers[] = {"ФИО", "Дата рождения", "Возраст", "Юбилей"};
    for (int c = 0; c < 4; ++c)
        worksheet_write_string(sheet, 1, lxw_col_t(c), headers[c], nullptr);
    lxw_row_t r = 2;
    for (const Listed &person : listed) {
        worksheet_write_string(sheet, r, 0, person.name.c_str(), nullptr);
        worksheet_write_string(sheet, r, 1, person.born.c_str(), nullptr);
        worksheet_write_number(sheet, r, 2, person.age, nullptr);
        worksheet_write_string(sheet, r, 3, person.mark.c_str(), nullptr);
        ++r;
    }
    workbook_close(book);
}

void rawWorkbook(benchmark::State &state)
{
    QTemporaryDir out;
    SqliteConnection db(benchDatabase(people), SqliteConnection::Mode::OpenExisting);
    const std::vector<Listed> listed = readList(db);
    int file = 0;
    for (auto _ : state)
        writeRaw(listed, QFile::encodeName(out.filePath(QStringLiteral("raw%1.xlsx").arg(file++))));
}

// Once: the sheets of both workbooks hold the same cells (where unzip is at hand to read them).
void checkSameCells()
{
    QTemporaryDir out;
    SqliteConnection db(benchDatabase(people), SqliteConnection::Mode::OpenExisting);
    const QString raw = out.filePath(QStringLiteral("raw.xlsx"));
    writeRaw(readList(db), QFile::encodeName(raw));
    const QString made = QDir::temp().filePath(QStringLiteral("reestr-bench-report.xlsx"));
    const auto sheetOf = [](const QString &book) {
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"),
                    {QStringLiteral("-p"), book, QStringLiteral("xl/worksheets/sheet1.xml")});
        unzip.waitForFinished();
        return unzip.readAllStandardOutput();
    };
    const QByteArray a = sheetOf(made), b = sheetOf(raw);
    QFile::remove(made);
    if (a.isEmpty() || b.isEmpty()) {
        std::printf("same cells: not checked (unzip is not at hand)\n");
        return;
    }
    if (a != b) {
        std::fprintf(stderr, "report: the program's sheet and the raw sheet differ\n");
        std::exit(1);
    }
    std::printf("same cells: report (%lld bytes of sheet)\n", static_cast<long long>(a.size()));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    timed("report", report, 2, 10);
    timed("rawWorkbook", rawWorkbook, 2, 10);
    const RatioReporter reporter = runBenchmarks(argc, argv);
    checkSameCells();
    reportTimes("report_10k_vs_raw_xlsxwriter", reporter.seconds("report"),
                reporter.seconds("rawWorkbook"), 1.5);
    return 0;
}
