// The spreadsheet report of 10,000 people against a raw libxlsxwriter loop writing the same cells.
#include "BenchSupport.h"

#include "platform/Desktop.h"
#include "platform/Spreadsheet.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"
#include "service/Report.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <xlsxwriter.h>

namespace {

constexpr int people = 10000;

void report(benchmark::State &state)
{
    QTemporaryDir out;
    Spreadsheet::Application::setOutputFolder(out.path());
    Desktop::setDocumentOpener([](const QString &) {});
    Connection connection(benchDatabase(people));
    RecordSet list(QStringLiteral("qryZapros1"), connection, RecordSet::Kind::Query);
    list.SQL().add(QStringLiteral("select * from Main"));
    list.setActive(true);
    for (auto _ : state)
        Report::exportList(list);
}

void rawWorkbook(benchmark::State &state)
{
    QTemporaryDir out;
    // The same values, already in memory.
    struct Row
    {
        QString name, born, jubilee;
        double age;
    };
    std::vector<Row> rows;
    for (int i = 0; i < people; ++i)
        rows.push_back({QStringLiteral("Человек %1").arg(i), QStringLiteral("01.01.1980"),
                        QStringLiteral("нет"), 45});
    int file = 0;
    for (auto _ : state) {
        const QByteArray path =
            QFile::encodeName(out.filePath(QStringLiteral("raw%1.xlsx").arg(file++)));
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
        for (const Row &row : rows) {
            worksheet_write_string(sheet, r, 0, row.name.toUtf8().constData(), nullptr);
            worksheet_write_string(sheet, r, 1, row.born.toUtf8().constData(), nullptr);
            worksheet_write_number(sheet, r, 2, row.age, nullptr);
            worksheet_write_string(sheet, r, 3, row.jubilee.toUtf8().constData(), nullptr);
            ++r;
        }
        workbook_close(book);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    timed("report", report, 10);
    timed("rawWorkbook", rawWorkbook, 10);
    const RatioReporter reporter = runBenchmarks(argc, argv);
    reportRatio("report_10k_vs_raw_xlsxwriter",
                reporter.seconds("report") / reporter.seconds("rawWorkbook"), 2);
    return 0;
}
