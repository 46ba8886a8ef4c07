#include "engines/Engine.h"

#include "platform/Error.h"

#include <QSysInfo>

#include <algorithm>

#include <pwd.h>
#include <unistd.h>

Transaction::Transaction(TransactionTarget &target) : m_target(&target)
{
    m_target->beginTransaction();
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    try {
        m_target->rollbackTransaction();
    } catch (const Error &) {
        // The failure that ended the transaction early is the one reported.
    }
}

void Transaction::commit()
{
    m_open = false;
    try {
        m_target->commitTransaction();
    } catch (const Error &) {
        try {
            m_target->rollbackTransaction();
        } catch (const Error &) {
        }
        throw;
    }
}

QString thisComputer()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("localhost") : name.left(63);
}

QString thisPerson()
{
    if (const passwd *user = getpwuid(getuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return qEnvironmentVariable("USER");
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString editableQueryTable(const std::vector<QString> &tables)
{
    QString table;
    for (const QString &from : tables) {
        if (from.isEmpty())
            continue;
        if (table.isEmpty())
            table = from;
        else if (from != table)
            return {};
    }
    return table;
}

int markKeyColumns(std::vector<SourceColumn> &columns, const std::function<bool(size_t)> &isKey)
{
    int first = -1;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (!isKey(i))
            continue;
        columns[i].readOnly = true;
        if (first < 0)
            first = int(i);
    }
    return first;
}

std::vector<int> tableColumns(const std::vector<SourceColumn> &columns)
{
    std::vector<int> read;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (!columns[i].origin.isEmpty())
            read.push_back(int(i));
    }
    return read;
}

Value cellValue(const RowCells &row, int column)
{
    switch (row.kind(column)) {
    case RowCells::Kind::Null:
        break;
    case RowCells::Kind::Integer:
        return Value(row.integer(column));
    case RowCells::Kind::Real:
        return Value(row.real(column));
    case RowCells::Kind::Text: {
        const std::string_view text = row.utf8(column);
        return Value(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }
    }
    return Value();
}
