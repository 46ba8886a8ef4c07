#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// A small Access file written from scratch, as the tests need one and nothing on this system
// writes the format: Access 97 (Jet 3) or Access 2000 (Jet 4). Tables of Long Integer and Text
// columns, no indexes. Jet 3 rows are shorter than 256 bytes, their texts stored in the code page
// given (an iconv name), and the file's header names `headerCodePage`, which need not be the code
// page the texts are in (as with files an Access set up for another language wrote). Jet 4 texts
// are Unicode, compressed where a run of letters fits one byte each, as Access stores them.
namespace JetFile {

struct Column
{
    QString name;
    int textSize = 0; // characters; 0 for a Long Integer
    bool autoNumber = false;
    bool longBinary = false; // an OLE Object column, always null here
};

struct Table
{
    QString name;
    QList<Column> columns;
    QList<QVariantList> rows; // QString, int or a null QVariant, in the columns' order
};

enum class Version { Jet3, Jet4 };

struct Options
{
    Version version = Version::Jet4;
    const char *textCodePage = "CP1251"; // Jet 3 only
    int headerCodePage = 1251;
};

void write(const QString &path, const QList<Table> &tables, const Options &options);

// The old program's register as an Access 2000 file: Main with twenty people (a gap in the keys,
// a jubilee mark left empty and one null, a name with «ё», a person without a year of birth) and
// the three reference books, written under `path`.
void writeOldRegister(const QString &path);

} // namespace JetFile
