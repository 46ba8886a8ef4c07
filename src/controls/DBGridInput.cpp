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
