#include "Spreadsheet.h"

#include "Desktop.h"
#include "Dialogs.h"
#include "Error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstring>

namespace Spreadsheet {

namespace {

QString g_outputFolder;

[[noreturn]] void invalidIndex()
{
    throw Error(QStringLiteral("Invalid index"));
}

// The colour as the file stores it (red, green, blue) from a blue-green-red value.
lxw_color_t rgbOf(int bgr)
{
    const auto value = static_cast<quint32>(bgr);
    return ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
}

lxw_format *formatOf(lxw_workbook *book, const FontData &font)
{
    lxw_format *format = workbook_add_format(book);
    if (font.bold.value_or(false))
        format_set_bold(format);
    if (font.colorBgr)
        format_set_font_color(format, rgbOf(*font.colorBgr));
    if (font.size)
        format_set_font_size(format, *font.size);
    return format;
}

// A row as high as its font needs, as the spreadsheet application would make it.
double rowHeightFor(const FontData &font)
{
    return font.size ? std::max(LXW_DEF_ROW_HEIGHT, static_cast<double>(qRound(*font.size * 1.3)))
                     : LXW_DEF_ROW_HEIGHT;
}

// A file name not yet taken, claimed by creating the file, so nothing existing is overwritten.
QString claimNewFile(const QString &folder)
{
    const QString stem =
        QStringLiteral("ОТЧЕТ %1")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")));
    for (int attempt = 1;; ++attempt) {
        const QString name = attempt == 1 ? stem : QStringLiteral("%1 (%2)").arg(stem).arg(attempt);
        QFile file(QDir(folder).filePath(name + QStringLiteral(".xlsx")));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return file.fileName();
        if (!file.exists())
            throw Error(file.errorString());
    }
}

} // namespace

void Range::setColumnWidth(double width)
{
    if (!m_isColumn)
        throw Error(QStringLiteral("Method 'ColumnWidth' not supported by automation object"));
    m_sheet->columnWidths[m_index] = width;
}

Font Range::font()
{
    return Font(m_isColumn ? &m_sheet->columnFonts[m_index] : &m_sheet->rowFonts[m_index]);
}

Range Ranges::item(int index) const
{
    // The limits of a worksheet: 16,384 columns and 1,048,576 rows.
    if (index < 1 || index > (m_columns ? 16384 : 1048576))
        invalidIndex();
    return Range(m_sheet, m_columns, index);
}

void Worksheet::setName(const QString &name)
{
    m_data->name = name;
}

void Worksheet::setCell(int row, int column, const QString &text)
{
    if (row < 1 || column < 1 || row > 1048576 || column > 16384)
        invalidIndex();
    m_data->cells.push_back({row, column, text});
}

void Worksheet::setCell(int row, int column, double number)
{
    if (row < 1 || column < 1 || row > 1048576 || column > 16384)
        invalidIndex();
    m_data->cells.push_back({row, column, number});
}

Worksheet Workbook::worksheet(int index) const
{
    if (index < 1 || index > static_cast<int>(m_data->sheets.size()))
        invalidIndex();
    return Worksheet(m_data->sheets[static_cast<size_t>(index - 1)].get());
}

Worksheet Workbook::worksheet(const QString &name) const
{
    for (const auto &sheet : m_data->sheets) {
        if (sheet->name.compare(name, Qt::CaseInsensitive) == 0)
            return Worksheet(sheet.get());
    }
    invalidIndex();
}

Workbook Workbooks::add(int)
{
    auto book = std::make_unique<WorkbookData>();
    auto sheet = std::make_unique<SheetData>();
    sheet->name = QStringLiteral("Лист1");
    book->sheets.push_back(std::move(sheet));
    m_books->push_back(std::move(book));
    return Workbook(m_books->back().get());
}

Workbook Workbooks::item(int index) const
{
    if (index < 1 || index > count())
        invalidIndex();
    return Workbook((*m_books)[static_cast<size_t>(index - 1)].get());
}

QString Session::progId()
{
    return QStringLiteral("Reestr.Spreadsheet");
}

QString Session::outputFolder()
{
    if (!g_outputFolder.isEmpty())
        return g_outputFolder;
    QString base = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return QDir(base).filePath(QStringLiteral("Отчёты реестра"));
}

void Session::setOutputFolder(const QString &folder)
{
    g_outputFolder = folder;
}

std::unique_ptr<Session> Session::create()
{
    const QString folder = outputFolder();
    errno = 0;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".probe-XXXXXX")));
    if (!QDir().mkpath(folder) || !probe.open()) {
        const int code = errno ? errno : EACCES;
        throw Error(QString::fromLocal8Bit(std::strerror(code)) + QStringLiteral(", ProgID: \"") +
                    progId() + QLatin1Char('"'));
    }
    return std::unique_ptr<Session>(new Session);
}

Session::~Session() = default;

QStringList Session::release()
{
    if (m_released)
        return {};
    m_released = true;
    QStringList files;
    for (const auto &book : m_books)
        files << write(*book);
    if (m_visible) {
        for (const QString &file : files) {
            // The workbook is written either way; the user must learn where when nothing opens it.
            Desktop::openDocument(file, [file](bool opened, const QString &output) {
                if (!opened) {
                    Dialogs::current().showError(
                        QStringLiteral("Отчёт сохранён в файл «%1», но открыть его не удалось%2")
                            .arg(QDir::toNativeSeparators(file),
                                 output.isEmpty() ? QString() : QStringLiteral(": ") + output));
                }
            });
        }
    }
    return files;
}

QString Session::write(const WorkbookData &data)
{
    const QString path = claimNewFile(outputFolder());
    lxw_workbook *book = workbook_new(QFile::encodeName(path).constData());
    if (!book) {
        QFile::remove(path);
        throw Error(QStringLiteral("Cannot write %1").arg(path));
    }
    bool valid = true;
    for (const auto &sheet : data.sheets) {
        lxw_worksheet *ws = workbook_add_worksheet(book, sheet->name.toUtf8().constData());
        if (!ws) {
            valid = false;
            break;
        }
        std::map<int, bool> columns;
        for (const auto &[column, width] : sheet->columnWidths)
            columns[column] = true;
        for (const auto &[column, font] : sheet->columnFonts)
            columns[column] = true;
        for (const auto &[column, unused] : columns) {
            const auto width = sheet->columnWidths.find(column);
            const auto font = sheet->columnFonts.find(column);
            worksheet_set_column(
                ws, static_cast<lxw_col_t>(column - 1), static_cast<lxw_col_t>(column - 1),
                width != sheet->columnWidths.end() ? width->second : LXW_DEF_COL_WIDTH,
                font != sheet->columnFonts.end() ? formatOf(book, font->second) : nullptr);
        }
        for (const auto &[row, font] : sheet->rowFonts)
            worksheet_set_row(ws, static_cast<lxw_row_t>(row - 1), rowHeightFor(font),
                              formatOf(book, font));
        // In the order written: a later value at the same place replaces the earlier one.
        for (const SheetData::Cell &cell : sheet->cells) {
            const auto row = static_cast<lxw_row_t>(cell.row - 1);
            const auto column = static_cast<lxw_col_t>(cell.column - 1);
            if (const auto *text = std::get_if<QString>(&cell.value))
                worksheet_write_string(ws, row, column, text->toUtf8().constData(), nullptr);
            else
                worksheet_write_number(ws, row, column, std::get<double>(cell.value), nullptr);
        }
    }
    const lxw_error result = workbook_close(book);
    if (!valid || result != LXW_NO_ERROR) {
        QFile::remove(path);
        throw Error(valid ? QString::fromUtf8(lxw_strerror(result))
                          : QStringLiteral("Invalid worksheet name"));
    }
    return path;
}

} // namespace Spreadsheet
