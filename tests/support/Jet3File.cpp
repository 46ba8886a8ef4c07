#include "Jet3File.h"

#include <QByteArray>
#include <QFile>

#include <iconv.h>
#include <stdexcept>
#include <utility>

namespace Jet3File {
namespace {

constexpr int pageSize = 2048;
// A data page: its type, a 1, free bytes, the table's definition page, the row count, then where
// each row starts. Rows lie from the page's end downwards.
constexpr int rowCount = 8;
constexpr int rowStarts = 10;

QByteArray encoded(const QString &text, const char *codePage)
{
    const iconv_t converter = iconv_open(codePage, "UTF-8");
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 2 + 4, '\0');
    char *from = in.data();
    char *to = out.data();
    size_t fromLeft = size_t(in.size());
    size_t toLeft = size_t(out.size());
    const size_t done = iconv(converter, &from, &fromLeft, &to, &toLeft);
    iconv_close(converter);
    if (done == size_t(-1))
        throw std::runtime_error("not in the code page: " + text.toStdString());
    out.chop(qsizetype(toLeft));
    return out;
}

class Pages
{
public:
    int add(char type)
    {
        m_bytes.append(QByteArray(pageSize, '\0'));
        const int page = int(m_bytes.size() / pageSize) - 1;
        m_bytes[qsizetype(page) * pageSize] = type;
        m_bytes[qsizetype(page) * pageSize + 1] = 1;
        return page;
    }

    int dataPage(int definition)
    {
        const int page = add(1);
        put(page, 2, pageSize - rowStarts, 2);
        put(page, 4, quint32(definition), 4);
        return page;
    }

    void put(int page, int at, quint32 value, int size)
    {
        for (int i = 0; i < size; ++i)
            m_bytes[qsizetype(page) * pageSize + at + i] = char(value >> (8 * i));
    }

    void put(int page, int at, const QByteArray &bytes)
    {
        m_bytes.replace(qsizetype(page) * pageSize + at, bytes.size(), bytes);
    }

    int get16(int page, int at) const
    {
        const auto *p =
            reinterpret_cast<const uchar *>(m_bytes.constData()) + qsizetype(page) * pageSize + at;
        return p[0] | p[1] << 8;
    }

    // The row's number on the page, or -1 where it has no room left.
    int addRow(int page, const QByteArray &row)
    {
        const int rows = get16(page, rowCount);
        const int end = rows == 0 ? pageSize : get16(page, rowStarts + 2 * (rows - 1));
        const int start = end - int(row.size());
        const int free = start - (rowStarts + 2 * (rows + 1));
        if (free < 0)
            return -1;
        put(page, start, row);
        put(page, rowStarts + 2 * rows, quint32(start), 2);
        put(page, rowCount, quint32(rows + 1), 2);
        put(page, 2, quint32(free), 2);
        return rows;
    }

    int count() const { return int(m_bytes.size() / pageSize); }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

bool isVariable(const Column &column)
{
    return column.textSize > 0 || column.longBinary;
}

// A row: the column count, the Long Integers, the texts, then (read backwards from the end) the
// null mask, the number of texts, where each text starts, and where the last one ends.
QByteArray rowOf(const Table &table, const QVariantList &values, const char *codePage)
{
    const auto columns = table.columns.size();
    QByteArray row(1, char(columns));
    QByteArray present((columns + 7) / 8, '\0');
    for (qsizetype i = 0; i < columns; ++i) {
        if (isVariable(table.columns[i]))
            continue;
        const quint32 value = values[i].isNull() ? 0 : quint32(values[i].toInt());
        for (int b = 0; b < 4; ++b)
            row.append(char(value >> (8 * b)));
        present[i / 8] = char(present[i / 8] | (values[i].isNull() ? 0 : 1 << (i % 8)));
    }
    QByteArray starts;
    for (qsizetype i = 0; i < columns; ++i) {
        if (!isVariable(table.columns[i]))
            continue;
        starts.prepend(char(row.size()));
        if (!values[i].isNull())
            row.append(encoded(values[i].toString(), codePage));
        present[i / 8] = char(present[i / 8] | (values[i].isNull() ? 0 : 1 << (i % 8)));
    }
    if (!starts.isEmpty())
        row += char(row.size()) + starts + char(starts.size());
    row += present;
    if (row.size() > 256)
        throw std::runtime_error("a row longer than 256 bytes needs a jump table");
    return row;
}

void writeDefinition(Pages &pages, int page, const Table &table, quint32 usageMap, bool system,
                     const char *codePage)
{
    pages.put(page, 2, QByteArrayLiteral("VC"));
    const auto columns = quint32(table.columns.size());
    quint32 texts = 0;
    quint32 next = 0;
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        texts += isVariable(table.columns[i]);
        for (const QVariantList &row : table.rows) {
            if (table.columns[i].autoNumber)
                next = std::max(next, quint32(row[i].toInt()) + 1);
        }
    }
    pages.put(page, 12, quint32(table.rows.size()), 4);
    pages.put(page, 16, next, 4);
    pages.put(page, 20, system ? 0x53 : 0x4e, 1);
    pages.put(page, 21, columns, 2);
    pages.put(page, 23, texts, 2);
    pages.put(page, 25, columns, 2);
    pages.put(page, 35, usageMap, 4); // pages in use
    pages.put(page, 39, usageMap, 4); // pages with free room
    int at = 43;
    int fixed = 0;
    int variable = 0;
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        const Column &column = table.columns[i];
        const bool text = isVariable(column);
        pages.put(page, at, column.longBinary ? 0x0B : text ? 0x0A : 0x04, 1);
        pages.put(page, at + 1, quint32(i), 2);
        pages.put(page, at + 3, quint32(text ? variable++ : 0), 2);
        pages.put(page, at + 5, quint32(i), 2);
        pages.put(page, at + 7, 0x409, 2); // general sort order
        pages.put(page, at + 13, (text ? 0 : 1) | 2 | (column.autoNumber ? 4 : 0), 1);
        pages.put(page, at + 14, quint32(text ? 0 : fixed), 2);
        pages.put(page, at + 16, quint32(text ? column.textSize : 4), 2);
        fixed += text ? 0 : 4;
        at += 18;
    }
    for (const Column &column : table.columns) {
        const QByteArray name = encoded(column.name, codePage);
        pages.put(page, at, quint32(name.size()), 1);
        pages.put(page, at + 1, name);
        at += 1 + int(name.size());
    }
    pages.put(page, at, 0xFFFF, 2);
    pages.put(page, 8, quint32(at + 2), 4);
}

void writeHeader(Pages &pages, int lang, int headerCodePage)
{
    pages.put(0, 0, 0x100, 4);
    pages.put(0, 4, QByteArrayLiteral("Standard Jet DB"));
    pages.put(0, 0x3a, quint32(lang), 2);
    pages.put(0, 0x3c, quint32(headerCodePage), 2);
    // Bytes 0x18 on are kept under RC4 with a key every Jet 3 file shares.
    uchar state[256];
    const uchar key[4] = {0xc7, 0xda, 0x39, 0x6b};
    for (int i = 0; i < 256; ++i)
        state[i] = uchar(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + key[i % 4]) & 255;
        std::swap(state[i], state[j]);
    }
    QByteArray hidden = pages.bytes().mid(0x18, 126);
    for (int n = 0, x = 0, y = 0; n < hidden.size(); ++n) {
        x = (x + 1) & 255;
        y = (y + state[x]) & 255;
        std::swap(state[x], state[y]);
        hidden[n] = char(hidden[n] ^ state[(state[x] + state[y]) & 255]);
    }
    pages.put(0, 0x18, hidden);
}

} // namespace

void write(const QString &path, const QList<Table> &tables, const char *textCodePage,
           int headerCodePage)
{
    Pages pages;
    pages.add(0);
    const int usageMaps = pages.dataPage(0);
    const int catalogue = pages.add(2); // the list of objects is always on page 2
    Table objects{QStringLiteral("MSysObjects"),
                  {{QStringLiteral("Id")},
                   {QStringLiteral("Name"), 255},
                   {QStringLiteral("Type")},
                   {QStringLiteral("Flags")},
                   {QStringLiteral("LvProp"), 0, false, true}},
                  {}};
    QList<const Table *> laid;
    QList<int> definitions;
    QList<QList<int>> dataPages;
    const auto lay = [&](const Table &table, int definition) {
        laid << &table;
        definitions << definition;
        dataPages.append(QList<int>());
        for (const QVariantList &values : table.rows) {
            const QByteArray row = rowOf(table, values, textCodePage);
            if (dataPages.last().isEmpty() || pages.addRow(dataPages.last().last(), row) < 0) {
                dataPages.last() << pages.dataPage(definition);
                pages.addRow(dataPages.last().last(), row);
            }
        }
    };
    for (const Table &table : tables) {
        const int definition = pages.add(2);
        objects.rows.append({definition, table.name, 1, 0, QVariant()});
        lay(table, definition);
    }
    lay(objects, catalogue);

    for (qsizetype t = 0; t < laid.size(); ++t) {
        // Which pages hold the table's rows: a bit for each page from page 0 on.
        QByteArray map(5 + (pages.count() + 7) / 8, '\0');
        for (const int page : dataPages[t])
            map[5 + page / 8] = char(map[5 + page / 8] | 1 << (page % 8));
        const int row = pages.addRow(usageMaps, map);
        if (row < 0)
            throw std::runtime_error("the tables' usage maps do not fit on one page");
        writeDefinition(pages, definitions[t], *laid[t], quint32(usageMaps << 8 | row),
                        laid[t] == &objects, textCodePage);
    }
    writeHeader(pages, headerCodePage == 1251 ? 0x419 : 0x409, headerCodePage);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pages.bytes()) != pages.bytes().size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace Jet3File
