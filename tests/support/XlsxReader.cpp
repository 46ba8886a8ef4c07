#include "XlsxReader.h"

#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

QByteArray XlsxReader::entry(const QString &path, const QString &name)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), path, name});
    EXPECT_TRUE(unzip.waitForFinished(10000));
    EXPECT_EQ(unzip.exitCode(), 0) << "unzip " << name.toStdString();
    return unzip.readAllStandardOutput();
}

XlsxReader::XlsxReader(const QString &path)
{
    QXmlStreamReader workbook(entry(path, QStringLiteral("xl/workbook.xml")));
    while (!workbook.atEnd()) {
        if (workbook.readNext() == QXmlStreamReader::StartElement &&
            workbook.name() == QLatin1String("sheet"))
            m_sheets << workbook.attributes().value(QLatin1String("name")).toString();
    }

    QStringList strings;
    QXmlStreamReader shared(entry(path, QStringLiteral("xl/sharedStrings.xml")));
    while (!shared.atEnd()) {
        if (shared.readNext() == QXmlStreamReader::StartElement &&
            shared.name() == QLatin1String("t"))
            strings << shared.readElementText();
    }

    // Fonts and the cell formats that use them.
    QList<RowFont> fonts;
    QList<int> formatFont;
    QXmlStreamReader styles(entry(path, QStringLiteral("xl/styles.xml")));
    bool inFonts = false;
    bool inCellXfs = false;
    while (!styles.atEnd()) {
        const auto token = styles.readNext();
        const auto name = styles.name();
        if (token == QXmlStreamReader::StartElement) {
            if (name == QLatin1String("fonts"))
                inFonts = true;
            else if (name == QLatin1String("cellXfs"))
                inCellXfs = true;
            else if (inFonts && name == QLatin1String("font"))
                fonts.append(RowFont());
            else if (inFonts && name == QLatin1String("b"))
                fonts.last().bold = true;
            else if (inFonts && name == QLatin1String("sz"))
                fonts.last().size = styles.attributes().value(QLatin1String("val")).toDouble();
            else if (inFonts && name == QLatin1String("color"))
                fonts.last().rgb = styles.attributes().value(QLatin1String("rgb")).toString();
            else if (inCellXfs && name == QLatin1String("xf"))
                formatFont << styles.attributes().value(QLatin1String("fontId")).toInt();
        } else if (token == QXmlStreamReader::EndElement) {
            if (name == QLatin1String("fonts"))
                inFonts = false;
            else if (name == QLatin1String("cellXfs"))
                inCellXfs = false;
        }
    }

    QXmlStreamReader sheet(entry(path, QStringLiteral("xl/worksheets/sheet1.xml")));
    QString cell;
    QString type;
    while (!sheet.atEnd()) {
        if (sheet.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attributes = sheet.attributes();
        if (sheet.name() == QLatin1String("col")) {
            const int min = attributes.value(QLatin1String("min")).toInt();
            const int max = attributes.value(QLatin1String("max")).toInt();
            // A width w is stored with its padding: 15 is written 15.7109375.
            const double width = attributes.value(QLatin1String("width")).toDouble() - 0.7109375;
            for (int c = min; c <= max; ++c)
                m_widths[c] = width;
        } else if (sheet.name() == QLatin1String("row") &&
                   attributes.hasAttribute(QLatin1String("s"))) {
            const int format = attributes.value(QLatin1String("s")).toInt();
            m_rowFonts[attributes.value(QLatin1String("r")).toInt()] =
                fonts.value(formatFont.value(format));
        } else if (sheet.name() == QLatin1String("c")) {
            cell = attributes.value(QLatin1String("r")).toString();
            type = attributes.value(QLatin1String("t")).toString();
        } else if (sheet.name() == QLatin1String("v")) {
            const QString value = sheet.readElementText();
            const bool shared = type == QLatin1String("s");
            m_cells[cell] = shared ? strings.value(value.toInt()) : value;
            m_isNumber[cell] = !shared;
        }
    }
}

int XlsxReader::lastRow() const
{
    int last = 0;
    static const QRegularExpression digits(QStringLiteral("\\d+$"));
    for (const QString &cell : m_cells.keys())
        last = std::max(last, digits.match(cell).captured().toInt());
    return last;
}
