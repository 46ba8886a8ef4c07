#include "JetFile.h"

#include <QByteArray>
#include <QFile>

#include <iconv.h>
#include <stdexcept>
#include <utility>

namespace JetFile {
namespace {

// Where the two versions keep what this writer writes. A data page: its type, a 1, free bytes,
// the table's definition page, the row count, then where each row starts; rows lie from the
// page's end downwards. A table definition: row count, next number, type, column counts, usage
// maps, then an entry per column and their names. Jet 4 widens counts and lengths to two bytes.
struct Format
{
    int pageSize;
    int rowCount;       // on a data page
    int rowStarts;      // on a data page
    int tableRows;      // on a definition page; the next number follows
    int tableType;      // then the column counts: all, variable, all again
    int columnEntry;    // the size of a column's entry
    int columnNumber;   // within the entry; the variable offset and the row's number follow
    int columnFlags;    // within the entry
    int columnFixedAt;  // within the entry; the size follows
    int width;          // of a row's counts and offsets, and of a name's length
    int headerLanguage; // in the file's header
    int headerHiddenLength;
};

constexpr Format jet3{2048, 8, 10, 12, 20, 18, 1, 13, 14, 1, 0x3a, 126};
constexpr Format jet4{4096, 12, 14, 16, 40, 25, 5, 15, 21, 2, 0x6e, 128};

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

QByteArray utf16(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text)
        bytes += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
    return bytes;
}

// Jet 4's compressed Unicode: 0xFF 0xFE, then runs of letters that fit one byte as that byte, and
// runs of the others as two, a zero byte switching between them. Where a two-byte letter starts
// with a zero byte the text cannot be compressed and is stored as plain UTF-16.
QByteArray compressedUnicode(const QString &text)
{
    QByteArray bytes("\xFF\xFE");
    bool compressed = true;
    for (const QChar c : text) {
        const bool fits = c.unicode() > 0 && c.unicode() < 0x100;
        if (!fits && (c.unicode() & 0xFF) == 0)
            return utf16(text);
        if (fits != compressed)
            bytes += '\0';
        compressed = fits;
        bytes += fits ? QByteArray(1, char(c.unicode())) : utf16(QString(c));
    }
    return bytes;
}

class Pages
{
public:
    explicit Pages(const Format &format) : m_format(format) {}

    int add(char type)
    {
        m_bytes.append(QByteArray(m_format.pageSize, '\0'));
        const int page = int(m_bytes.size() / m_format.pageSize) - 1;
        m_bytes[at(page, 0)] = type;
        m_bytes[at(page, 1)] = 1;
        return page;
    }

    int dataPage(int definition)
    {
        const int page = add(1);
        put(page, 2, quint32(m_format.pageSize - m_format.rowStarts), 2);
        put(page, 4, quint32(definition), 4);
        return page;
    }

    void put(int page, int offset, quint32 value, int size)
    {
        for (int i = 0; i < size; ++i)
            m_bytes[at(page, offset + i)] = char(value >> (8 * i));
    }

    void put(int page, int offset, const QByteArray &bytes)
    {
        m_bytes.replace(at(page, offset), bytes.size(), bytes);
    }

    int get16(int page, int offset) const
    {
        const auto *p = reinterpret_cast<const uchar *>(m_bytes.constData()) + at(page, offset);
        return p[0] | p[1] << 8;
    }

    // The row's number on the page, or -1 where it has no room left.
    int addRow(int page, const QByteArray &row)
    {
        const int rows = get16(page, m_format.rowCount);
        const int end =
            rows == 0 ? m_format.pageSize : get16(page, m_format.rowStarts + 2 * (rows - 1));
        const int start = end - int(row.size());
        const int free = start - (m_format.rowStarts + 2 * (rows + 1));
        if (free < 0)
            return -1;
        put(page, start, row);
        put(page, m_format.rowStarts + 2 * rows, quint32(start), 2);
        put(page, m_format.rowCount, quint32(rows + 1), 2);
        put(page, 2, quint32(free), 2);
        return rows;
    }

    int count() const { return int(m_bytes.size() / m_format.pageSize); }
    const QByteArray &bytes() const { return m_bytes; }

private:
    qsizetype at(int page, int offset) const
    {
        return qsizetype(page) * m_format.pageSize + offset;
    }

    const Format &m_format;
    QByteArray m_bytes;
};

bool isVariable(const Column &column)
{
    return column.textSize > 0 || column.longBinary;
}

QByteArray number(quint32 value, int width)
{
    QByteArray bytes;
    for (int b = 0; b < width; ++b)
        bytes.append(char(value >> (8 * b)));
    return bytes;
}

// A row: the column count, the Long Integers, the texts, then (read backwards from the end) the
// null mask, the number of texts, where each text starts, and where the last one ends.
QByteArray rowOf(const Table &table, const QVariantList &values, const Format &format,
                 const Options &options)
{
    const auto columns = table.columns.size();
    QByteArray row = number(quint32(columns), format.width);
    QByteArray present((columns + 7) / 8, '\0');
    const auto mark = [&](qsizetype i) {
        present[i / 8] = char(present[i / 8] | (values[i].isNull() ? 0 : 1 << (i % 8)));
    };
    for (qsizetype i = 0; i < columns; ++i) {
        if (!isVariable(table.columns[i])) {
            row += number(values[i].isNull() ? 0 : quint32(values[i].toInt()), 4);
            mark(i);
        }
    }
    QByteArray starts;
    for (qsizetype i = 0; i < columns; ++i) {
        if (!isVariable(table.columns[i]))
            continue;
        starts.prepend(number(quint32(row.size()), format.width));
        if (!values[i].isNull()) {
            const QString text = values[i].toString();
            row += options.version == Version::Jet3 ? encoded(text, options.textCodePage)
                                                    : compressedUnicode(text);
        }
        mark(i);
    }
    if (!starts.isEmpty()) {
        row += number(quint32(row.size()), format.width) + starts +
               number(quint32(starts.size() / format.width), format.width);
    }
    row += present;
    if (options.version == Version::Jet3 && row.size() > 256)
        throw std::runtime_error("a row longer than 256 bytes needs a jump table");
    return row;
}

void writeDefinition(Pages &pages, int page, const Table &table, quint32 usageMap, bool system,
                     const Format &format, const Options &options)
{
    pages.put(page, 2, QByteArrayLiteral("VC"));
    quint32 texts = 0;
    quint32 next = 0;
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        texts += isVariable(table.columns[i]);
        for (const QVariantList &row : table.rows) {
            if (table.columns[i].autoNumber)
                next = std::max(next, quint32(row[i].toInt()) + 1);
        }
    }
    const auto columns = quint32(table.columns.size());
    const int counts = format.tableType + 1;
    pages.put(page, format.tableRows, quint32(table.rows.size()), 4);
    pages.put(page, format.tableRows + 4, next, 4);
    pages.put(page, format.tableType, system ? 0x53 : 0x4e, 1);
    pages.put(page, counts, columns, 2);
    pages.put(page, counts + 2, texts, 2);
    pages.put(page, counts + 4, columns, 2);
    pages.put(page, counts + 14, usageMap, 4); // pages in use
    pages.put(page, counts + 18, usageMap, 4); // pages with free room
    int at = counts + 22;
    int fixed = 0;
    int variable = 0;
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        const Column &column = table.columns[i];
        const bool text = isVariable(column);
        const int size =
            text ? column.textSize * (format.width == 2 && !column.longBinary ? 2 : 1) : 4;
        pages.put(page, at, column.longBinary ? 0x0B : text ? 0x0A : 0x04, 1);
        pages.put(page, at + format.columnNumber, quint32(i), 2);
        pages.put(page, at + format.columnNumber + 2, quint32(text ? variable++ : 0), 2);
        pages.put(page, at + format.columnNumber + 4, quint32(i), 2);
        pages.put(page, at + format.columnNumber + 6, 0x409, 2); // general sort order
        pages.put(page, at + format.columnFlags, (text ? 0 : 1) | 2 | (column.autoNumber ? 4 : 0),
                  1);
        pages.put(page, at + format.columnFixedAt, quint32(text ? 0 : fixed), 2);
        pages.put(page, at + format.columnFixedAt + 2, quint32(size), 2);
        fixed += text ? 0 : 4;
        at += format.columnEntry;
    }
    for (const Column &column : table.columns) {
        const QByteArray name = options.version == Version::Jet3
                                    ? encoded(column.name, options.textCodePage)
                                    : utf16(column.name);
        pages.put(page, at, number(quint32(name.size()), format.width) + name);
        at += format.width + int(name.size());
    }
    pages.put(page, at, 0xFFFF, 2);
    pages.put(page, 8, quint32(at + 2), 4);
}

void writeHeader(Pages &pages, const Format &format, const Options &options)
{
    pages.put(0, 0, 0x100, 4);
    pages.put(0, 4, QByteArrayLiteral("Standard Jet DB"));
    pages.put(0, 0x14, options.version == Version::Jet3 ? 0 : 1, 4);
    pages.put(0, format.headerLanguage, options.headerCodePage == 1251 ? 0x419 : 0x409, 2);
    pages.put(0, 0x3c, quint32(options.headerCodePage), 2);
    // Bytes 0x18 on are kept under RC4 with a key every Jet 3 and Jet 4 file shares.
    uchar state[256];
    const uchar key[4] = {0xc7, 0xda, 0x39, 0x6b};
    for (int i = 0; i < 256; ++i)
        state[i] = uchar(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + key[i % 4]) & 255;
        std::swap(state[i], state[j]);
    }
    QByteArray hidden = pages.bytes().mid(0x18, format.headerHiddenLength);
    for (int n = 0, x = 0, y = 0; n < hidden.size(); ++n) {
        x = (x + 1) & 255;
        y = (y + state[x]) & 255;
        std::swap(state[x], state[y]);
        hidden[n] = char(hidden[n] ^ state[(state[x] + state[y]) & 255]);
    }
    pages.put(0, 0x18, hidden);
}

} // namespace

void write(const QString &path, const QList<Table> &tables, const Options &options)
{
    const Format &format = options.version == Version::Jet3 ? jet3 : jet4;
    Pages pages(format);
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
            const QByteArray row = rowOf(table, values, format, options);
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
                        laid[t] == &objects, format, options);
    }
    writeHeader(pages, format, options);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pages.bytes()) != pages.bytes().size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void writeOldRegister(const QString &path)
{
    static const char *const names[] = {
        "Антонов Борис Викторович",  "Белова Галина Дмитриевна",  "Фёдорова Алёна Петровна",
        "Григорьев Егор Ильич",      "Дмитриева Жанна Олеговна",  "Ершов Захар Кириллович",
        "Жукова Инна Львовна",       "Зайцев Кирилл Максимович",  "Ильина Лариса Никитична",
        "Королёв Максим Олегович",   "Лебедева Нина Павловна",    "Морозов Олег Романович",
        "Никитина Полина Сергеевна", "Орлов Роман Тимурович",     "Павлова Светлана Юрьевна",
        "Романов Тимур Яковлевич",   "Соколова Ульяна Андреевна", "Тихонов Фёдор Борисович",
        "Уварова Христина Глебовна", "Федотов Цезарь Денисович"};
    Table main{QStringLiteral("Main"),
               {{QStringLiteral("Код"), 0, true},
                {QStringLiteral("ФИО"), 255},
                {QStringLiteral("Дата_рождения"), 50},
                {QStringLiteral("Год")},
                {QStringLiteral("Месяц")},
                {QStringLiteral("Число")},
                {QStringLiteral("Возраст")},
                {QStringLiteral("Юбилей"), 10}},
               {}};
    int person = 0;
    for (int key = 1; key <= 21; ++key) {
        if (key == 7)
            continue; // a person deleted long ago: the keys keep their gap
        const int year = key == 1 ? 1950 : 1951 + (key - 1) * 2;
        const int month = key % 12 + 1;
        const int day = key % 28 + 1;
        const int age = 2025 - year;
        const QVariant jubilee =
            key == 4 ? QVariant()
                     : QVariant(age % 5 == 0 ? QStringLiteral("%1 лет").arg(age) : QString());
        const QString born = QStringLiteral("%1.%2.%3")
                                 .arg(day, 2, 10, QLatin1Char('0'))
                                 .arg(month, 2, 10, QLatin1Char('0'))
                                 .arg(year);
        main.rows.append({key, QString::fromUtf8(names[person++]), born,
                          key == 20 ? QVariant() : QVariant(year), month, day,
                          key == 20 ? QVariant() : QVariant(age), jubilee});
    }
    Table years{QStringLiteral("God"), {{QStringLiteral("Год")}}, {}};
    for (int year = 1950; year <= 2025; ++year)
        years.rows.append(QVariantList{year});
    Table months{QStringLiteral("Mesyats"), {{QStringLiteral("Месяц")}}, {}};
    for (int month = 1; month <= 12; ++month)
        months.rows.append(QVariantList{month});
    Table days{QStringLiteral("Chislo"), {{QStringLiteral("Число")}}, {}};
    for (int day = 1; day <= 31; ++day)
        days.rows.append(QVariantList{day});
    write(path, {main, years, months, days}, Options{});
}

} // namespace JetFile
