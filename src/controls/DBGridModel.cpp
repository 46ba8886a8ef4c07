#include "DBGridParts.h"

#include "recordset/RecordSet.h"

DBGridModel::DBGridModel(DBGrid *grid) : QAbstractTableModel(grid), m_grid(grid) {}

int DBGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DBGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant DBGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return m_grid->cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_grid->cellAlignment(index.column()));
    default:
        return {};
    }
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return m_grid->columnTitle(section);
        return {};
    }
    if (role == Qt::DecorationRole)
        return m_grid->indicator(section);
    if (role == Qt::AccessibleDescriptionRole)
        return m_grid->indicatorDescription(section);
    if (role == Qt::DisplayRole)
        return QString();
    return {};
}

void DBGridModel::reset(int rows, int columns)
{
    beginResetModel();
    m_rows = rows;
    m_columns = columns;
    endResetModel();
}

void DBGridModel::setRowCount(int rows)
{
    if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    } else if (rows < m_rows) {
        beginRemoveRows(QModelIndex(), rows, m_rows - 1);
        m_rows = rows;
        endRemoveRows();
    }
}

void DBGridModel::allChanged()
{
    rowsChanged(0, m_rows - 1);
    if (m_columns > 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, m_columns - 1);
}

void DBGridModel::rowsChanged(int first, int last)
{
    if (m_rows == 0 || m_columns == 0)
        return;
    first = std::clamp(first, 0, m_rows - 1);
    last = std::clamp(last, 0, m_rows - 1);
    Q_EMIT dataChanged(index(first, 0), index(last, m_columns - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, first, last);
}
