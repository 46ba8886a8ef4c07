#pragma once

#include <QLineEdit>

// The one text box under the bound edit box and the grid's cell editor. Its text changes only while
// the record is being edited: every way a person changes it (a key, paste and cut, the context
// menu, a middle click, a drop, undo and redo, an input method) first asks to start editing, and
// the change happens only if editing could start. Otherwise the box stays read-only.
class BoundLineEdit : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;

protected:
    // Asks to start editing; true when the text may change now (the box is then writable).
    virtual bool requestChange() = 0;
    // Whether a change could start editing at all: the field exists and may be modified.
    virtual bool mayChange() const = 0;

    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
};
