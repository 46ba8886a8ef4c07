#pragma once

// The grid's own parts, seen by the grid's sources only: the model Qt's view reads, and the cell
// editor.
#include "BoundLineEdit.h"
#include "DBGrid.h"

#include <QAbstractTableModel>

class CharacterLimit;

// The rows of the grid's record set as Qt's views read them. Its row count changes only through
// reset(), so the view never sees rows appear or vanish behind its back.
class DBGridModel : public QAbstractTableModel
{
public:
    explicit DBGridModel(DBGrid *grid);
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // New columns: the view forgets its column widths and order.
    void reset(int rows, int columns);
    // Rows added or removed at the end; the columns stay as the user arranged them.
    void setRowCount(int rows);
    // Every row and title may show something else now.
    void allChanged();
    void rowsChanged(int first, int last);

private:
    DBGrid *m_grid;
    int m_rows = 0;
    int m_columns = 0;
};

// The in-place editor of a grid cell: read-only until the record is being edited, and every change
// of its text asks the grid to start editing first.
class DBGridEditor : public BoundLineEdit
{
public:
    explicit DBGridEditor(DBGrid *grid);
    // Holds the text to the field's size in characters.
    void limitTo(const Field *field);

protected:
    bool requestChange() override;
    bool mayChange() const override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    DBGrid *m_grid;
    CharacterLimit *m_limit;
};
