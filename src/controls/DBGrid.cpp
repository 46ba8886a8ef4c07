#include "DBGridParts.h"

#include "CharacterLimit.h"
#include "DBGridIcons.h"
#include "Guard.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

// The current record's whole row is selected (for screen readers), but only its current cell is
// drawn highlighted, as in a data-entry grid.
class CurrentCellDelegate : public QStyledItemDelegate
{
public:
    explicit CurrentCellDelegate(DBGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        // The view has already drawn the selected row's background under every cell.
        if ((option.state & QStyle::State_Selected) && index != m_grid->currentCell())
            painter->fillRect(option.rect, option.palette.brush(QPalette::Base));
        QStyledItemDelegate::paint(painter, option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index != m_grid->currentCell())
            option->state &= ~QStyle::State_Selected;
    }

private:
    DBGrid *m_grid;
};

} // namespace

// --- DBGrid ------------------------------------------------------------------------------------

DBGrid::DBGrid(QWidget *parent)
    : QTableView(parent), BoundControl(this), m_model(new DBGridModel(this)),
      m_editor(new DBGridEditor(this))
{
    setModel(m_model);
    setItemDelegate(new CurrentCellDelegate(this));
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setHorizontalScrollMode(ScrollPerPixel);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->viewport()->installEventFilter(this);
    verticalHeader()->viewport()->installEventFilter(this);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setFixedWidth(14);
    verticalHeader()->setHighlightSections(false);
    const int rowHeight = fontMetrics().height() + 4;
    verticalHeader()->setDefaultSectionSize(rowHeight);
    verticalHeader()->setMinimumSectionSize(rowHeight);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this] { placeEditor(); });
    connect(horizontalHeader(), &QHeaderView::sectionMoved, this, [this] { placeEditor(); });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { placeEditor(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { placeEditor(); });
}

void DBGrid::setColumns(const QList<DBGridColumn> &columns)
{
    m_persistent = columns;
    layoutChanged();
}

Field *DBGrid::columnField(int shownColumn) const
{
    const MappedColumn *mapped = mappedColumn(logicalColumn(shownColumn));
    return mapped ? mapped->field : nullptr;
}

QString DBGrid::columnTitle(int column) const
{
    const MappedColumn *mapped = mappedColumn(column);
    if (!mapped)
        return QString();
    if (!mapped->definition.TitleCaption.isEmpty())
        return mapped->definition.TitleCaption;
    return mapped->field ? mapped->field->DisplayName() : mapped->definition.FieldName;
}

QString DBGrid::cellText(int row, int column) const
{
    const RecordSet *set = recordSet();
    const MappedColumn *mapped = mappedColumn(column);
    if (!set || !set->Active() || !mapped || row >= set->rowCount())
        return QString();
    const Field *field = mapped->field;
    return field ? displayText(set->valueAt(row, field->Index()), field->DataType()) : QString();
}

Qt::Alignment DBGrid::cellAlignment(int column) const
{
    const MappedColumn *mapped = mappedColumn(column);
    const Field *field = mapped ? mapped->field : nullptr;
    return (field && field->isNumeric() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

QIcon DBGrid::indicator(int row) const
{
    const RecordSet *set = recordSet();
    if (!set || !set->Active() || row != set->currentRow())
        return QIcon();
    switch (set->state()) {
    case RecordSet::State::Editing:
        return rowMarkIcon(RowMark::Edit);
    case RecordSet::State::Inserting:
        return rowMarkIcon(RowMark::Insert);
    default:
        return rowMarkIcon(RowMark::Browse);
    }
}

QString DBGrid::indicatorDescription(int row) const
{
    const RecordSet *set = recordSet();
    if (!set || !set->Active() || row != set->currentRow())
        return QString();
    switch (set->state()) {
    case RecordSet::State::Editing:
        return QStringLiteral("Editing");
    case RecordSet::State::Inserting:
        return QStringLiteral("Inserting");
    default:
        return QStringLiteral("Browsing");
    }
}

int DBGrid::logicalColumn(int shown) const
{
    if (shown < 0 || shown >= columnCount())
        return -1;
    const int logical = horizontalHeader()->logicalIndex(shown);
    return logical >= 0 ? logical : shown;
}

// --- notifications -----------------------------------------------------------------------------

void DBGrid::stateChanged()
{
    if (!isRecordSetOpen()) {
        // The fields are gone at once; the view may ask for a title before the refresh comes.
        for (MappedColumn &column : m_columns)
            column.field = nullptr;
        dropPending();
    }
    // Opening and closing build the columns afresh, at their default widths; editing,
    // inserting, posting and cancelling only change the indicator.
    if (isRecordSetOpen() != m_wasActive) {
        m_wasActive = isRecordSetOpen();
        m_layoutDirty = true;
        m_reopened = true;
    }
    scheduleRefresh();
}

void DBGrid::layoutChanged()
{
    for (MappedColumn &column : m_columns)
        column.field = nullptr;
    m_layoutDirty = true;
    scheduleRefresh();
}

void DBGrid::dataSetChanged()
{
    dropPending();
    scheduleRefresh();
}

void DBGrid::rowsChanged()
{
    scheduleRefresh();
}

void DBGrid::dataSetScrolled(int)
{
    dropPending();
    scheduleRefresh();
}

void DBGrid::recordChanged()
{
    scheduleRefresh();
}

void DBGrid::fieldChanged(Field &)
{
    scheduleRefresh();
}

void DBGrid::updateRecord()
{
    commitCell();
}

void DBGrid::dropPending()
{
    m_pending = false;
    if (m_editor->isVisible())
        closeEditor();
}

void DBGrid::rebuildColumns()
{
    const RecordSet *set = recordSet();
    const bool active = set && set->Active();
    m_columns.clear();
    if (!m_persistent.isEmpty()) {
        // A column whose field the result lacks stays, with empty cells.
        for (const DBGridColumn &definition : m_persistent) {
            Field *field =
                active ? const_cast<RecordSet *>(set)->findField(definition.FieldName) : nullptr;
            m_columns.push_back({definition, field});
        }
    } else if (active) {
        auto *fields = const_cast<RecordSet *>(set);
        for (int i = 0; i < fields->FieldCount(); ++i) {
            Field &field = fields->FieldAt(i);
            if (field.Visible())
                m_columns.push_back({DBGridColumn{field.FieldName(), QString(), nullptr}, &field});
        }
    }
}

QStringList DBGrid::columnNames() const
{
    QStringList names;
    for (const MappedColumn &column : m_columns)
        names << column.definition.FieldName;
    return names;
}

int DBGrid::defaultWidth(int index) const
{
    const MappedColumn &column = *mappedColumn(index);
    // The width of "0" times the field's display width, plus 4; at least the title's width plus 4.
    int displayWidth = 10;
    if (column.field && column.field->DataType() == FieldType::Text)
        displayWidth = column.field->Size() > 0 ? column.field->Size() : 20;
    const int zero = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    int width = zero * displayWidth + 4;
    const QFontMetrics titleMetrics(horizontalHeader()->font());
    return std::max(width, titleMetrics.horizontalAdvance(columnTitle(index)) + 4);
}

void DBGrid::refresh()
{
    const RecordSet *set = recordSet();
    const bool active = set && set->Active();
    const int rows = active ? set->rowCount() : 0;

    if (m_layoutDirty) {
        m_layoutDirty = false;
        const QStringList before = columnNames();
        rebuildColumns();
        if (m_reopened || columnNames() != before || m_model->columnCount() != columnCount()) {
            // New columns: default widths and order. The same columns keep what the user set.
            m_model->reset(rows, columnCount());
            for (int i = 0; i < columnCount(); ++i)
                horizontalHeader()->resizeSection(i, defaultWidth(i));
        } else {
            m_model->setRowCount(rows);
            m_model->allChanged();
        }
        m_reopened = false;
        m_column = std::clamp(m_column, 0, std::max(0, columnCount() - 1));
    } else if (rows != m_model->rowCount()) {
        // Rows added or removed keep the columns as the user arranged them.
        m_model->setRowCount(rows);
        m_model->allChanged();
    } else {
        // Only what can be seen is read again.
        const int top = rowAt(0) < 0 ? 0 : rowAt(0);
        const int bottom =
            rowAt(viewport()->height() - 1) < 0 ? rows - 1 : rowAt(viewport()->height() - 1);
        m_model->rowsChanged(top, bottom);
    }

    const QModelIndex index = currentCell();
    if (index.isValid()) {
        // The whole row is selected, so screen readers hear which record is current; only its
        // current cell is drawn highlighted.
        selectionModel()->select(index,
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        followKeyboardFocus();
        scrollTo(index);
        viewport()->update(); // the highlighted cell may have moved within the row
    } else {
        selectionModel()->clear();
    }
    verticalHeader()->viewport()->update();
    // A post or cancel ends editing: the open editor goes back to read-only.
    if (!(active && set->isEditing() && cellMayChange()))
        m_editor->setReadOnly(true);
    placeEditor();
}

bool DBGrid::event(QEvent *event)
{
    if (handleRefreshEvent(event) || takeTab(event))
        return true;
    return QTableView::event(event);
}

bool DBGrid::takeTab(QEvent *event)
{
    // Tab moves between cells, in the grid and in its cell editor, not to the next control.
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
        return false;
    keyPressEvent(key);
    return true;
}

// --- editing -----------------------------------------------------------------------------------

void DBGrid::commitCell()
{
    if (!m_pending)
        return;
    Field *field = columnField(m_column);
    if (!field)
        return;
    field->setAsText(m_editor->text());
    m_pending = false;
}

bool DBGrid::cellMayChange() const
{
    const Field *field = columnField(m_column);
    return isRecordSetOpen() && field && !field->ReadOnly() && dataSource();
}

bool DBGrid::startCellEditing()
{
    if (!cellMayChange())
        return false;
    if (!recordSet()->isEditing() && !guarded([this] { dataSource()->requestEdit(); }))
        return false;
    refreshNow();
    const bool editing = recordSet()->isEditing();
    m_editor->setReadOnly(!editing);
    return editing;
}

bool DBGrid::isEditorOpen() const
{
    return m_editor->isVisible();
}

QString DBGrid::editorText() const
{
    return m_editor->text();
}

void DBGrid::openEditor()
{
    const RecordSet *set = recordSet();
    Field *field = columnField(m_column);
    if (!set || !set->Active() || set->currentRow() < 0 || !field)
        return;
    refreshNow();
    m_editor->limitTo(field);
    m_editor->setAlignment(cellAlignment(logicalColumn(m_column)));
    if (!m_pending)
        m_editor->setText(field->AsText());
    // Opened while browsing, the editor changes nothing until editing has started.
    m_editor->setReadOnly(!(set->isEditing() && cellMayChange()));
    m_editor->show();
    placeEditor();
    m_editor->selectAll();
    m_editor->setFocus(Qt::OtherFocusReason);
}

void DBGrid::closeEditor()
{
    const bool hadFocus = m_editor->hasFocus();
    m_editor->hide();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
}

void DBGrid::placeEditor()
{
    if (!m_editor->isVisible())
        return;
    const RecordSet *set = recordSet();
    if (!set || set->currentRow() < 0) {
        m_editor->hide();
        return;
    }
    m_editor->setGeometry(visualRect(m_model->index(set->currentRow(), logicalColumn(m_column))));
}

void DBGrid::typeCharacter(QChar c)
{
    Field *field = columnField(m_column);
    if (!field)
        return;
    if (!fieldAcceptsCharacter(*field, c)) {
        QApplication::beep();
        return;
    }
    if (!startCellEditing())
        return;
    openEditor();
    m_editor->insert(QString(c));
    m_pending = true;
}
