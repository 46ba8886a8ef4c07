#include "TextComboBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

TextComboBox::TextComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(NoInsert); // typed text never becomes an entry
    setCompleter(nullptr);     // completion is ours: it keeps the letters as typed
    setCurrentIndex(-1);
    connect(this, &QComboBox::currentIndexChanged, this, &TextComboBox::selectionMayHaveChanged);
    connect(lineEdit(), &QLineEdit::textEdited, this, &TextComboBox::complete);
    // QComboBox selects the entry that matches the text exactly when the text loses focus or
    // Enter is pressed: an edit inside a completed month ("июль" made "июнь") would then change
    // the selection without any completion. Only our completion and picks select here.
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    matchListFont(this);
}

void TextComboBox::keyPressEvent(QKeyEvent *event)
{
    m_deleting = event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete;
    QComboBox::keyPressEvent(event);
    m_deleting = false;
}

void TextComboBox::selectionMayHaveChanged(int index)
{
    if (index == m_selected)
        return;
    m_selected = index;
    if (index >= 0)
        Q_EMIT selectionChanged();
}

void TextComboBox::complete(const QString &typed)
{
    QLineEdit *edit = lineEdit();
    // Completion follows a typed letter at the end of the text, not a deletion or an edit inside.
    if (typed.isEmpty() || edit->cursorPosition() != typed.size() || m_deleting)
        return;
    const QString prefix = typed.left(edit->cursorPosition());
    for (int i = 0; i < count(); ++i) {
        const QString entry = itemText(i);
        if (!entry.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        {
            const QSignalBlocker blocker(this);
            setCurrentIndex(i); // this writes the entry's own text into the box...
        }
        // ...which is replaced by the letters as typed and the rest of the entry, selected.
        edit->setText(prefix + entry.mid(prefix.size()));
        edit->setSelection(static_cast<int>(entry.size()),
                           -static_cast<int>(entry.size() - prefix.size()));
        selectionMayHaveChanged(i);
        return;
    }
}

void TextComboBox::showPopup()
{
    matchListFont(this);
    QComboBox::showPopup();
}

void TextComboBox::changeEvent(QEvent *event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        matchListFont(this);
}

void matchListFont(QComboBox *box)
{
    // The list view holds a font of its own too, set by the box when the list was made.
    box->view()->window()->setFont(box->font());
    box->view()->setFont(box->font());
}
