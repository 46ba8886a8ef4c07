#include "BoundLineEdit.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>

#include <functional>

void BoundLineEdit::contextMenuEvent(QContextMenuEvent *event)
{
    // The usual entries of a text box, in Qt's own words; those that change the text are offered
    // whenever editing could start, and ask for it before they act.
    const bool could = mayChange();
    bool undoable = false;
    bool redoable = false;
    {
        // A read-only box reports no undo steps; ask as the writable box it would become.
        const bool readOnly = isReadOnly();
        setReadOnly(false);
        undoable = isUndoAvailable();
        redoable = isRedoAvailable();
        setReadOnly(readOnly);
    }
    const bool selected = hasSelectedText();
    const bool clipboardText = !QGuiApplication::clipboard()->text().isEmpty();

    QMenu menu(this);
    const auto add = [&](const char *text, QKeySequence::StandardKey key, bool enabled,
                         bool changes, const std::function<void()> &act) {
        QString label = QCoreApplication::translate("QLineEdit", text);
        if (key != QKeySequence::UnknownKey)
            label += QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
        QAction *action = menu.addAction(label);
        action->setEnabled(enabled && (!changes || could));
        connect(action, &QAction::triggered, this, [this, changes, act] {
            if (!changes || requestChange())
                act();
        });
    };
    add("&Undo", QKeySequence::Undo, undoable, true, [this] { undo(); });
    add("&Redo", QKeySequence::Redo, redoable, true, [this] { redo(); });
    menu.addSeparator();
    add("Cu&t", QKeySequence::Cut, selected && echoMode() == Normal, true, [this] { cut(); });
    add("&Copy", QKeySequence::Copy, selected && echoMode() == Normal, false, [this] { copy(); });
    add("&Paste", QKeySequence::Paste, clipboardText, true, [this] { paste(); });
    add("Delete", QKeySequence::UnknownKey, selected, true, [this] { del(); });
    menu.addSeparator();
    add("Select All", QKeySequence::SelectAll, !text().isEmpty() && selectedText() != text(), false,
        [this] { selectAll(); });
    menu.exec(event->globalPos());
    event->accept();
}

void BoundLineEdit::mouseReleaseEvent(QMouseEvent *event)
{
    // A middle click pastes the selection where the system keeps one.
    const bool pastes = event->button() == Qt::MiddleButton &&
                        QGuiApplication::clipboard()->supportsSelection() &&
                        rect().contains(event->position().toPoint());
    if (pastes && !requestChange())
        return;
    QLineEdit::mouseReleaseEvent(event);
}

void BoundLineEdit::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void BoundLineEdit::dragMoveEvent(QDragMoveEvent *event)
{
    // A read-only box refuses a drop; one that may start editing takes it and asks on the drop.
    if (isReadOnly() && mayChange() && event->mimeData()->hasText()) {
        event->acceptProposedAction();
        return;
    }
    QLineEdit::dragMoveEvent(event);
}

void BoundLineEdit::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasText() || !requestChange()) {
        event->ignore();
        return;
    }
    QLineEdit::dropEvent(event);
}

void BoundLineEdit::inputMethodEvent(QInputMethodEvent *event)
{
    if (!event->commitString().isEmpty() && !requestChange()) {
        event->ignore();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}
