#pragma once

#include "BoundControl.h"

#include <QList>
#include <QTableView>

class CharacterLimit;
class DBGrid;
class QMenu;

// A column the window sets up for a grid; a grid without any builds one per visible field.
struct DBGridColumn
{
    QString FieldName;
    QString TitleCaption;       // empty: the field's display name
    QMenu *PopupMenu = nullptr; // opened by a right click on the column
};

class DBGridEditor;
class DBGridModel;

// A grid showing the records of a record set, one row each, the current record's row selected;
// cells are edited in place and the keys move through the record set as data-entry users expect.
class DBGrid : public QTableView, public BoundControl
{
    Q_OBJECT

public:
    explicit DBGrid(QWidget *parent = nullptr);

    // Persistent columns: the grid shows exactly these. Without any it shows the visible fields.
    void setColumns(const QList<DBGridColumn> &columns);
    // A popup menu for a right click anywhere in the grid.
    void setPopupMenu(QMenu *menu) { m_popupMenu = menu; }

    int columnCount() const { return static_cast<int>(m_columns.size()); }
    Field *columnField(int column) const;
    QString columnTitle(int column) const;
    // The current column, counted in the order the columns are shown.
    int currentColumn() const { return m_column; }
    bool isEditorOpen() const;
    bool hasPendingText() const { return m_pending; }
    QString editorText() const;

    // The current record's cell in the current column, drawn highlighted; invalid when none.
    QModelIndex currentCell() const;

    // The text a cell shows, and how the grid marks a row in its indicator column.
    QString cellText(int row, int column) const;
    Qt::Alignment cellAlignment(int column) const;
    QIcon indicator(int row) const;
    // What the indicator shows, for screen readers: "Browsing", "Editing" or "Inserting".
    QString indicatorDescription(int row) const;

    // Writes the pending cell text into its field; throws what the field's conversion throws.
    void commitCell();

    void fieldChanged(Field &field) override;
    void recordChanged() override;
    void dataSetChanged() override;
    void rowsChanged() override;
    void dataSetScrolled(int distance) override;
    void layoutChanged() override;
    void updateRecord() override;
    void stateChanged() override;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void refresh() override;

private:
    friend class DBGridEditor;

    struct MappedColumn
    {
        DBGridColumn definition;
        Field *field = nullptr;
    };

    // Tab and Shift+Tab, pressed in the grid or its cell editor, move between cells.
    bool takeTab(QEvent *event);
    void handleKey(QKeyEvent *event);
    bool moveByKey(int key, bool ctrl, RecordSet &set);
    void keyUp();
    void keyDown();
    void moveToColumn(int column);
    void moveToRow(int row);
    void typeCharacter(QChar c);
    // The current cell's field exists and may be modified.
    bool cellMayChange() const;
    // Asks the record set to start editing; true when the cell may change now.
    bool startCellEditing();
    void openEditor();
    void closeEditor();
    void placeEditor();
    void dropPending();
    // The view's current index is the current cell while the grid has the keyboard focus, and
    // none otherwise.
    void followKeyboardFocus(bool scroll = true);
    // A new record with no field assigned and no cell text typed: moving off it drops it.
    bool untouchedNewRecord() const;
    // The focus left for another control of the window: drop an untouched new record, or write
    // the cell text.
    void leaving(QFocusEvent *event);
    // Ctrl+Tab and Ctrl+Shift+Tab: the focus goes to the next or previous control of the window.
    void leaveByKeyboard(bool forward);
    void rebuildColumns();
    QStringList columnNames() const;
    int defaultWidth(int column) const;
    int visibleRows() const;
    int firstVisibleRow() const;
    int logicalColumn(int shown) const;
    void showPopup(int shownColumn, const QPoint &globalPos);

    DBGridModel *m_model;
    DBGridEditor *m_editor;
    QList<DBGridColumn> m_persistent;
    std::vector<MappedColumn> m_columns;
    // The column at a model position, or null outside the columns.
    const MappedColumn *mappedColumn(int column) const
    {
        return column >= 0 && column < columnCount() ? &m_columns[static_cast<size_t>(column)]
                                                     : nullptr;
    }
    QMenu *m_popupMenu = nullptr;
    int m_column = 0;
    bool m_pending = false;
    bool m_layoutDirty = true;
    bool m_wasActive = false;
    bool m_reopened = true; // opened or closed since the columns were last built
};
