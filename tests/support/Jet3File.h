#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// A small Access 97 (Jet 3) file written from scratch, as the tests need one and nothing on this
// system writes that format: tables of Long Integer and Text columns, no indexes, rows shorter
// than 256 bytes. Texts are stored in the code page given (an iconv name); the file's header
// names `headerCodePage`, which need not be the code page the texts are in (as with files an
// Access set up for another language wrote).
namespace Jet3File {

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

void write(const QString &path, const QList<Table> &tables, const char *textCodePage,
           int headerCodePage);

} // namespace Jet3File
