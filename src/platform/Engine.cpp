#include "Engine.h"

#include "Error.h"

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
