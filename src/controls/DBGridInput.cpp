// The grid's input: moving between records and columns, the keyboard, the mouse and the
// indicator column's clicks.
#include "DBGridParts.h"

#include "Guard.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>

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
    if (untouchedNewRecord() && set->AtEnd())
        set->CancelRecord();
    else
        set->ToPrior();
}

void DBGrid::keyDown()
{
    RecordSet *set = recordSet();
    if (untouchedNewRecord()) {
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

// The keys that move the current record or column; false for any other key.
bool DBGrid::moveByKey(int key, bool ctrl, RecordSet &set)
{
    const int last = columnCount() - 1;
    const int lastVisibleRow = std::min(set.rowCount() - 1, firstVisibleRow() + visibleRows() - 1);
    switch (key) {
    case Qt::Key_Up:
        ctrl ? moveToRow(firstVisibleRow()) : keyUp();
        break;
    case Qt::Key_Down:
        ctrl ? moveToRow(lastVisibleRow) : keyDown();
        break;
    case Qt::Key_PageUp:
        ctrl ? moveToRow(firstVisibleRow()) : void(set.SkipBy(-visibleRows()));
        break;
    case Qt::Key_PageDown:
        ctrl ? moveToRow(lastVisibleRow) : void(set.SkipBy(visibleRows()));
        break;
    case Qt::Key_Home:
        if (ctrl || columnCount() == 1)
            set.ToFirst();
        else
            moveToColumn(0);
        break;
    case Qt::Key_End:
        if (ctrl || columnCount() == 1)
            set.ToLast();
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
    default:
        return false;
    }
    return true;
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
    if (moveByKey(key, ctrl, *set))
        return;
    switch (key) {
    case Qt::Key_Insert:
        if (set->CanModify())
            set->StartInsert();
        break;
    case Qt::Key_Delete:
        if (ctrl && set->CanModify() && set->RecordTotal() > 0)
            deleteAfterConfirmation(*set);
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
        if (typesCharacter(event))
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
    const MappedColumn *column = mappedColumn(logicalColumn(shownColumn));
    QMenu *menu = m_popupMenu;
    if (!menu && column)
        menu = column->definition.PopupMenu;
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

// --- focus -------------------------------------------------------------------------------------

void DBGrid::leaving(QFocusEvent *event)
{
    if (!leavesForAnotherControl(event))
        return;
    QWidget *next = QApplication::focusWidget();
    if (next == this || next == m_editor || (next && window() != next->window()))
        return;
    const bool written = guarded([this] {
        RecordSet *set = recordSet();
        if (!set || !set->Active())
            return;
        if (untouchedNewRecord()) {
            set->CancelRecord();
        } else {
            commitCell();
            closeEditor();
        }
    });
    // A refused cell text stays pending in its cell, which takes the focus back.
    if (!written)
        takeFocusBack(m_editor->isVisible() ? static_cast<QWidget *>(m_editor) : this, event, next);
}

QModelIndex DBGrid::currentCell() const
{
    const RecordSet *set = recordSet();
    const int row = set && set->Active() ? set->currentRow() : -1;
    if (row < 0 || columnCount() == 0)
        return {};
    return m_model->index(row, logicalColumn(m_column));
}

void DBGrid::followKeyboardFocus(bool scroll)
{
    // Qt reports the view's current index to screen readers as the focused cell and announces
    // each new one: only a grid that has the keyboard focus has one. Others keep the selection.
    const QModelIndex cell = hasFocus() ? currentCell() : QModelIndex();
    if (selectionModel()->currentIndex() == cell)
        return;
    // A new current index scrolls the view to it, unless told not to.
    const bool scrolls = hasAutoScroll();
    setAutoScroll(scrolls && scroll);
    selectionModel()->setCurrentIndex(cell, QItemSelectionModel::NoUpdate);
    setAutoScroll(scrolls);
}

void DBGrid::focusInEvent(QFocusEvent *event)
{
    QTableView::focusInEvent(event);
    // The view may have chosen a current cell of its own; the record's row stays the selection.
    const QModelIndex cell = currentCell();
    if (cell.isValid())
        selectionModel()->select(cell,
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // Focus taken by a click comes before the click is read: the view stays put, so the click
    // lands on the record drawn under the pointer.
    followKeyboardFocus(event->reason() != Qt::MouseFocusReason);
}

bool DBGrid::untouchedNewRecord() const
{
    const RecordSet *set = recordSet();
    return set && set->state() == RecordSet::State::Inserting && !set->IsModified() && !m_pending;
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
    followKeyboardFocus();
    leaving(event);
}
