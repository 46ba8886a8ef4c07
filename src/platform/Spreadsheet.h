#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

// A small spreadsheet automation: an application object with its workbooks, a workbook's sheets,
// a sheet's name, columns, rows and cells, and a column's or row's width and font, addressed the
// way a spreadsheet application's automation addresses them (numbers count from 1, cells by row
// then column, colours as blue-green-red values). Releasing the application writes every workbook
// to a new .xlsx file and, when the application was made visible, opens it on the desktop.
namespace Spreadsheet {

struct FontData
{
    std::optional<bool> bold;
    std::optional<int> colorBgr;
    std::optional<double> size;
};

struct SheetData
{
    QString name;
    std::map<int, double> columnWidths;
    std::map<int, FontData> columnFonts;
    std::map<int, FontData> rowFonts;
    // Every value written, in the order written: a later one at the same place replaces an
    // earlier one in the file.
    struct Cell
    {
        int row;
        int column;
        std::variant<QString, double> value;
    };
    std::vector<Cell> cells;
};

struct WorkbookData
{
    std::vector<std::unique_ptr<SheetData>> sheets;
};

class Font
{
public:
    explicit Font(FontData *data) : m_data(data) {}
    void setBold(bool bold) { m_data->bold = bold; }
    void setColor(int bgr) { m_data->colorBgr = bgr; }
    void setSize(double size) { m_data->size = size; }

private:
    FontData *m_data;
};

// One column or one row of a sheet.
class Range
{
public:
    Range(SheetData *sheet, bool isColumn, int index)
        : m_sheet(sheet), m_isColumn(isColumn), m_index(index)
    {}
    void setColumnWidth(double width);
    Font font();

private:
    SheetData *m_sheet;
    bool m_isColumn;
    int m_index;
};

// All columns or all rows of a sheet.
class Ranges
{
public:
    Ranges(SheetData *sheet, bool columns) : m_sheet(sheet), m_columns(columns) {}
    Range item(int index) const;

private:
    SheetData *m_sheet;
    bool m_columns;
};

class Worksheet
{
public:
    explicit Worksheet(SheetData *data) : m_data(data) {}
    const QString &name() const { return m_data->name; }
    void setName(const QString &name);
    Ranges columns() const { return Ranges(m_data, true); }
    Ranges rows() const { return Ranges(m_data, false); }
    void setCell(int row, int column, const QString &text);
    void setCell(int row, int column, double number);

private:
    SheetData *m_data;
};

class Workbook
{
public:
    explicit Workbook(WorkbookData *data) : m_data(data) {}
    Worksheet worksheet(int index) const;
    Worksheet worksheet(const QString &name) const;

private:
    WorkbookData *m_data;
};

class Workbooks
{
public:
    explicit Workbooks(std::vector<std::unique_ptr<WorkbookData>> *books) : m_books(books) {}
    // A new workbook; the code -4167 asks for a single worksheet, as does every other code here.
    Workbook add(int templateCode);
    Workbook item(int index) const;
    int count() const { return static_cast<int>(m_books->size()); }

private:
    std::vector<std::unique_ptr<WorkbookData>> *m_books;
};

class Session
{
public:
    // The identifier of this automation, named in the message when it cannot start.
    static QString progId();

    // Starts the automation; fails with the system's reason, ", ProgID: " and the identifier in
    // double quotes when its output folder cannot be used.
    static std::unique_ptr<Session> create();
    ~Session();

    void setVisible(bool visible) { m_visible = visible; }
    Workbooks workbooks() { return Workbooks(&m_books); }

    // Writes each workbook to a new file and, if visible, opens it. Gives the files written.
    QStringList release();

    // Where the files go: a folder of reports in the user's documents (or cache) folder.
    static QString outputFolder();
    static void setOutputFolder(const QString &folder);

private:
    Session() = default;
    QString write(const WorkbookData &book);

    std::vector<std::unique_ptr<WorkbookData>> m_books;
    bool m_visible = false;
    bool m_released = false;
};

} // namespace Spreadsheet
