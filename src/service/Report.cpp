#include "Report.h"

#include "platform/Spreadsheet.h"
#include "recordset/RecordSet.h"

namespace Report {

namespace {

// Excel's code for a new workbook of a single worksheet.
constexpr int singleWorksheet = -4167;
constexpr double columnWidths[] = {15, 25, 15, 25, 15, 10, 10, 30};
constexpr int blue = 16711680; // blue, green, red: FF0000 is blue

// Hands the workbook over when the export ends, however it ends: what was written so far is
// the user's, as it would be in a spreadsheet window left open.
class Handover
{
public:
    explicit Handover(Spreadsheet::Session &application) : m_application(application) {}
    ~Handover()
    {
        if (!m_done) {
            try {
                m_application.release();
            } catch (...) {
                // The failure that ended the export is the one the user is shown.
            }
        }
    }
    void now()
    {
        m_done = true;
        m_application.release();
    }

private:
    Spreadsheet::Session &m_application;
    bool m_done = false;
};

} // namespace

void exportList(RecordSet &list, std::optional<int> agesYear)
{
    const QString report = QStringLiteral("ОТЧЕТ");

    std::unique_ptr<Spreadsheet::Session> excel = Spreadsheet::Session::create();
    Handover handover(*excel);
    excel->setVisible(true);
    excel->workbooks().add(singleWorksheet);
    excel->workbooks().item(1).worksheet(1).setName(report);

    const Spreadsheet::Ranges columns = excel->workbooks().item(1).worksheet(report).columns();
    for (int n = 1; n <= 8; ++n)
        columns.item(n).setColumnWidth(columnWidths[n - 1]);

    const Spreadsheet::Ranges rows = excel->workbooks().item(1).worksheet(report).rows();
    rows.item(2).font().setBold(true);
    rows.item(1).font().setBold(true);
    rows.item(1).font().setColor(blue);
    rows.item(1).font().setSize(16);

    Spreadsheet::Worksheet sheet = excel->workbooks().item(1).worksheet(report);
    sheet.setCell(
        1, 2,
        QStringLiteral("РЕЗУЛЬТАТЫ ПОИСКА: ") +
            (agesYear ? QStringLiteral("(возраст на %1 год)").arg(*agesYear) : QString()));
    sheet.setCell(2, 1, QStringLiteral("ФИО"));
    sheet.setCell(2, 2, QStringLiteral("Дата рождения"));
    sheet.setCell(2, 3, QStringLiteral("Возраст"));
    sheet.setCell(2, 4, QStringLiteral("Юбилей"));

    int row = 3;
    list.ToFirst();
    const int total = list.RecordTotal();
    // Counted, not walked to the end: the grid of the list follows and ends on the last record.
    for (int i = 0; i < total; ++i) {
        sheet.setCell(row, 1, list.FieldAt(1).AsText());
        sheet.setCell(row, 2, list.FieldAt(2).AsText());
        sheet.setCell(row, 3, list.FieldAt(6).AsNumber());
        sheet.setCell(row, 4, list.FieldAt(7).AsText());
        ++row;
        list.ToNext();
    }
    handover.now();
}

} // namespace Report
