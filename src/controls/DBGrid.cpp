#include "DBGrid.h"

#include "CharacterLimit.h"
#include "Guard.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

enum class Mark { Browse, Edit, Insert };

QIcon markIcon(Mark mark)
{
    static const QIcon icons[] = {
        [] {
            QPixmap pixmap(10, 12);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            QPainterPath arrow;
            arrow.moveTo(2, 2);
            arrow.lineTo(8, 6);
            arrow.lineTo(2, 10);
            arrow.closeSubpath();
            p.fillPath(arrow, Qt::black);
            return QIcon(pixmap);
        }(),
        [] {
            QPixmap pixmap(10, 12);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setPen(QPen(Qt::black, 1.4)); // a text cursor: the record is being changed
            p.drawLine(QPointF(5, 1), QPointF(5, 11));
            p.drawLine(QPointF(3, 1), QPointF(7, 1));
            p.drawLine(QPointF(3, 11), QPointF(7, 11));
            return QIcon(pixmap);
        }(),
        [] {
            QPixmap pixmap(10, 12);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Qt::black, 1.4)); // an asterisk: a new record
            p.drawLine(QPointF(5, 2), QPointF(5, 10));
            p.drawLine(QPointF(1.5, 4), QPointF(8.5, 8));
            p.drawLine(QPointF(1.5, 8), QPointF(8.5, 4));
            return QIcon(pixmap);
        }(),
    };
    return icons[int(mark)];
}

bool isPrintable(const QKeyEvent *event)
{
    const QString text = event->text();
    return !text.isEmpty() && text.front().isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

bool leavesForAnotherControl(const QFocusEvent *event)
{
    // Switching to another window (or to a popup) is not leaving.
    return event->reason() != Qt::ActiveWindowFocusReason &&
           event->reason() != Qt::PopupFocusReason;
}

// The current record's whole row is selected (for screen readers), but only its current cell is
// drawn highlighted, as in a data-entry grid.
class CurrentCellDelegate : public QStyledItemDelegate
{
public:
    explicit CurrentCellDelegate(QAbstractItemView *view) : QStyledItemDelegate(view), m_view(view)
    {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        // The view has already drawn the selected row's background under every cell.
        if ((option.state & QStyle::State_Selected) && index != m_view->currentIndex())
            painter->fillRect(option.rect, option.palette.brush(QPalette::Base));
        QStyledItemDelegate::paint(painter, option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index != m_view->currentIndex())
            option->state &= ~QStyle::State_Selected;
    }

private:
    QAbstractItemView *m_view;
};

} // namespace

// --- DBGridModel -------------------------------------------------------------------------------

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

// --- DBGridEditor ------------------------------------------------------------------------------

DBGridEditor::DBGridEditor(DBGrid *grid)
    : QLineEdit(grid->viewport()), m_grid(grid), m_limit(new CharacterLimit(this))
{
    setFrame(false);
    hide();
    connect(this, &QLineEdit::textEdited, this, [this] { m_grid->m_pending = true; });
}

void DBGridEditor::limitTo(const Field *field)
{
    m_limit->setLimit(field);
}

bool DBGridEditor::event(QEvent *event)
{
    // Tab moves between cells, not to the next control.
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            m_grid->keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void DBGridEditor::keyPressEvent(QKeyEvent *event)
{
    // Left at the start of the text and Right at its end leave the cell, as in the grid.
    const bool atStart = cursorPosition() == 0 && !hasSelectedText();
    const bool atEnd = cursorPosition() == text().size() && !hasSelectedText();
    if ((event->key() == Qt::Key_Left && atStart) || (event->key() == Qt::Key_Right && atEnd)) {
        m_grid->keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F2:
    case Qt::Key_Insert:
        if (!(event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier)) {
            m_grid->keyPressEvent(event);
            return;
        }
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
        if (event->modifiers() & Qt::ControlModifier) {
            m_grid->keyPressEvent(event);
            return;
        }
        break;
    default:
        break;
    }
    const bool changesText =
        isPrintable(event) || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete ||
        event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut) ||
        (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier);
    if (changesText) {
        Field *field = m_grid->columnField(m_grid->m_column);
        if (isPrintable(event) && field && !fieldAcceptsCharacter(*field, event->text().front())) {
            QApplication::beep();
            return;
        }
        if (!m_grid->startCellEditing())
            return;
    }
    QLineEdit::keyPressEvent(event);
}

void DBGridEditor::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    m_grid->leaving(event);
}

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
    const int column = logicalColumn(shownColumn);
    return column >= 0 && column < columnCount() ? m_columns[size_t(column)].field : nullptr;
}

QString DBGrid::columnTitle(int column) const
{
    if (column < 0 || column >= columnCount())
        return QString();
    const MappedColumn &mapped = m_columns[size_t(column)];
    if (!mapped.definition.TitleCaption.isEmpty())
        return mapped.definition.TitleCaption;
    return mapped.field ? mapped.field->DisplayName() : mapped.definition.FieldName;
}

QString DBGrid::cellText(int row, int column) const
{
    const RecordSet *set = recordSet();
    if (!set || !set->Active() || column < 0 || column >= columnCount() || row >= set->rowCount())
        return QString();
    const Field *field = m_columns[size_t(column)].field;
    return field ? displayText(set->valueAt(row, field->Index()), field->DataType()) : QString();
}

Qt::Alignment DBGrid::cellAlignment(int column) const
{
    const Field *field =
        column >= 0 && column < columnCount() ? m_columns[size_t(column)].field : nullptr;
    return (field && field->isNumeric() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

QIcon DBGrid::indicator(int row) const
{
    const RecordSet *set = recordSet();
    if (!set || !set->Active() || row != set->currentRow())
        return QIcon();
    switch (set->state()) {
    case RecordSet::State::Editing:
        return markIcon(Mark::Edit);
    case RecordSet::State::Inserting:
        return markIcon(Mark::Insert);
    default:
        return markIcon(Mark::Browse);
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
    if (!isActive()) {
        // The fields are gone at once; the view may ask for a title before the refresh comes.
        for (MappedColumn &column : m_columns)
            column.field = nullptr;
        dropPending();
    }
    // Opening and closing build the columns afresh, at their default widths; editing,
    // inserting, posting and cancelling only change the indicator.
    if (isActive() != m_wasActive) {
        m_wasActive = isActive();
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
    const MappedColumn &column = m_columns[size_t(index)];
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

    const int current = active ? set->currentRow() : -1;
    if (current >= 0 && columnCount() > 0) {
        const QModelIndex index = m_model->index(current, logicalColumn(m_column));
        // The whole row is selected, so screen readers hear which record is current; only its
        // current cell is drawn highlighted.
        selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(index);
    } else {
        selectionModel()->clear();
    }
    verticalHeader()->viewport()->update();
    placeEditor();
}

bool DBGrid::event(QEvent *event)
{
    if (handleRefreshEvent(event))
        return true;
    // Tab moves between cells, not to the next control.
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QTableView::event(event);
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

bool DBGrid::startCellEditing()
{
    Field *field = columnField(m_column);
    if (!isActive() || !field || field->ReadOnly() || !dataSource())
        return false;
    if (!recordSet()->isEditing() && !guarded([this] { dataSource()->requestEdit(); }))
        return false;
    refreshNow();
    return recordSet()->isEditing();
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

void DBGrid::leaving(QFocusEvent *event)
{
    if (!leavesForAnotherControl(event))
        return;
    QWidget *next = QApplication::focusWidget();
    if (next == this || next == m_editor || (next && window() != next->window()))
        return;
    guarded([this] {
        RecordSet *set = recordSet();
        if (!set || !set->Active())
            return;
        if (set->state() == RecordSet::State::Inserting && !set->IsModified() && !m_pending) {
            set->CancelRecord();
        } else {
            commitCell();
            closeEditor();
        }
    });
}

void DBGrid::leaveByKeyboard(bool forward)
{
    if (m_editor->isVisible())
        closeEditor(); // the focus returns to the grid; the cell text stays pending
    // Leaving writes the cell text or drops an untouched new record, as any focus change does.
    focusNextPrevChild(forward);
}

void DBGrid::focusOutEvent(QFocusEvent *event)
{
    QTableView::focusOutEvent(event);
    leaving(event);
}

// --- moving ------------------------------------------------------------------------------------

int DBGrid::visibleRows() const
{
    const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
    return std::max(1, viewport()->height() / rowHeight);
}

int DBGrid::firstVisibleRow() const
{
    const int top = rowAt(0);
    return top < 0 ? 0 : top;
}

void DBGrid::moveToRow(int row)
{
    // The record shown at `row` is found again after the settle, which may drop a blank row.
    recordSet()->MoveTo(row);
}

void DBGrid::moveToColumn(int column)
{
    if (column == m_column || column < 0 || column >= columnCount())
        return;
    commitCell();
    if (m_editor->isVisible())
        closeEditor();
    m_column = column;
    scheduleRefresh();
}

void DBGrid::keyUp()
{
    RecordSet *set = recordSet();
    if (set->state() == RecordSet::State::Inserting && !set->IsModified() && !m_pending &&
        set->AtEnd())
        set->CancelRecord();
    else
        set->ToPrior();
}

void DBGrid::keyDown()
{
    RecordSet *set = recordSet();
    if (set->state() == RecordSet::State::Inserting && !set->IsModified() && !m_pending) {
        if (set->AtEnd())
            return; // already the blank record at the bottom
        set->CancelRecord();
    } else {
        set->ToNext();
    }
    if (set->AtEnd() && set->CanModify())
        set->StartAppend();
}

void DBGrid::keyPressEvent(QKeyEvent *event)
{
    guarded([&] { handleKey(event); });
    refreshNow();
}

void DBGrid::handleKey(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    int key = event->key();
    // X11 sends Shift+Tab as Backtab; other platforms may send it as Tab with Shift held.
    if (key == Qt::Key_Tab && (event->modifiers() & Qt::ShiftModifier))
        key = Qt::Key_Backtab;
    if (ctrl && (key == Qt::Key_Tab || key == Qt::Key_Backtab)) {
        // Tab moves between cells, so Ctrl+Tab leaves the grid, as in Qt's text editors; also
        // an empty grid whose query is closed.
        leaveByKeyboard(key == Qt::Key_Tab);
        return;
    }
    RecordSet *set = recordSet();
    if (!set || !set->Active())
        return;
    const int last = columnCount() - 1;
    switch (key) {
    case Qt::Key_Up:
        ctrl ? moveToRow(firstVisibleRow()) : keyUp();
        break;
    case Qt::Key_Down:
        ctrl ? moveToRow(std::min(set->rowCount() - 1, firstVisibleRow() + visibleRows() - 1))
             : keyDown();
        break;
    case Qt::Key_PageUp:
        ctrl ? moveToRow(firstVisibleRow()) : void(set->SkipBy(-visibleRows()));
        break;
    case Qt::Key_PageDown:
        if (ctrl)
            moveToRow(std::min(set->rowCount() - 1, firstVisibleRow() + visibleRows() - 1));
        else
            set->SkipBy(visibleRows());
        break;
    case Qt::Key_Home:
        if (ctrl || columnCount() == 1)
            set->ToFirst();
        else
            moveToColumn(0);
        break;
    case Qt::Key_End:
        if (ctrl || columnCount() == 1)
            set->ToLast();
        else
            moveToColumn(last);
        break;
    case Qt::Key_Left:
        moveToColumn(m_column - 1);
        break;
    case Qt::Key_Right:
        moveToColumn(m_column + 1);
        break;
    case Qt::Key_Tab:
        if (m_column < last) {
            moveToColumn(m_column + 1);
        } else {
            commitCell();
            keyDown();
            moveToColumn(0);
        }
        break;
    case Qt::Key_Backtab:
        if (m_column > 0) {
            moveToColumn(m_column - 1);
        } else {
            commitCell();
            keyUp();
            moveToColumn(last);
        }
        break;
    case Qt::Key_Insert:
        if (set->CanModify())
            set->StartInsert();
        break;
    case Qt::Key_Delete:
        if (ctrl && set->CanModify() && set->RecordTotal() > 0 &&
            Dialogs::current().confirm(QStringLiteral("Delete record?"))) {
            set->DeleteRecord();
        }
        break;
    case Qt::Key_F2:
        openEditor();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commitCell();
        if (m_editor->isVisible())
            closeEditor();
        else
            openEditor();
        break;
    case Qt::Key_Escape:
        if (m_pending) {
            m_pending = false;
            if (Field *field = columnField(m_column))
                m_editor->setText(field->AsText());
        } else {
            set->CancelRecord();
        }
        closeEditor();
        break;
    default:
        if (isPrintable(event))
            typeCharacter(event->text().front());
        else
            QTableView::keyPressEvent(event);
    }
}

// --- mouse -------------------------------------------------------------------------------------

void DBGrid::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    // Either button makes the row under it current, so a pop-up menu acts on that record.
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    guarded([&] {
        RecordSet *set = recordSet();
        if (!index.isValid() || !set || !set->Active())
            return;
        const int shown = horizontalHeader()->visualIndex(index.column());
        if (index.row() != set->currentRow()) {
            moveToRow(index.row()); // settling writes the cell text first
            m_column = shown;
            scheduleRefresh();
        } else {
            moveToColumn(shown);
            commitCell();
        }
    });
    refreshNow();
}

void DBGrid::mouseMoveEvent(QMouseEvent *) {}

void DBGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        guarded([this] { openEditor(); });
}

void DBGrid::showPopup(int shownColumn, const QPoint &globalPos)
{
    // The grid's own menu opens anywhere; a column's menu only over that column's cells or title.
    const int column = logicalColumn(shownColumn);
    QMenu *menu = m_popupMenu;
    if (!menu && column >= 0)
        menu = m_columns[size_t(column)].definition.PopupMenu;
    if (menu)
        menu->popup(globalPos);
}

void DBGrid::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::RightButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    showPopup(index.isValid() ? horizontalHeader()->visualIndex(index.column()) : -1,
              event->globalPosition().toPoint());
}

bool DBGrid::eventFilter(QObject *watched, QEvent *event)
{
    // A right click on a column's title opens that column's menu as a click on its cells does;
    // one on the indicator column opens the grid's own menu.
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton && watched == horizontalHeader()->viewport()) {
            const int column = horizontalHeader()->logicalIndexAt(mouse->position().toPoint());
            showPopup(column < 0 ? -1 : horizontalHeader()->visualIndex(column),
                      mouse->globalPosition().toPoint());
            return true;
        }
        if (mouse->button() == Qt::RightButton && watched == verticalHeader()->viewport()) {
            showPopup(-1, mouse->globalPosition().toPoint());
            return true;
        }
    }
    // A press on the indicator column makes that row's record current, as one on its cells does.
    if (event->type() == QEvent::MouseButtonPress && watched == verticalHeader()->viewport()) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        setFocus(Qt::MouseFocusReason);
        const int row = verticalHeader()->logicalIndexAt(mouse->position().toPoint());
        guarded([&] {
            RecordSet *set = recordSet();
            if (row >= 0 && set && set->Active() && row != set->currentRow())
                moveToRow(row);
        });
        refreshNow();
        return true;
    }
    return QTableView::eventFilter(watched, event);
}
