#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Reads back what a test needs of an .xlsx file: sheet names, column widths, the font of each
// row, and cell values (texts resolved from the shared strings; numbers as written).
class XlsxReader
{
public:
    struct RowFont
    {
        bool bold = false;
        double size = 0;
        QString rgb; // as stored, "FF0000FF" for blue
    };

    explicit XlsxReader(const QString &path);

    QStringList sheetNames() const { return m_sheets; }
    // Column widths as a user reads them in the spreadsheet (the stored value less the padding).
    QMap<int, double> columnWidths() const { return m_widths; }
    QMap<int, RowFont> rowFonts() const { return m_rowFonts; }
    // "B1" -> value; numbers keep their written form ("50", "0").
    QMap<QString, QString> cells() const { return m_cells; }
    QMap<QString, bool> isNumber() const { return m_isNumber; }
    int lastRow() const;

private:
    static QByteArray entry(const QString &path, const QString &name);

    QStringList m_sheets;
    QMap<int, double> m_widths;
    QMap<int, RowFont> m_rowFonts;
    QMap<QString, QString> m_cells;
    QMap<QString, bool> m_isNumber;
};
