#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <QTest>

// Drives a drop-down box as a person does: a click opens its list, the entries are read from the
// list on the screen, Escape in the list closes it.
inline QStringList droppedEntries(QComboBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QCoreApplication::processEvents();
    QStringList entries;
    QAbstractItemView *list = box->view();
    if (!list->isVisible())
        return {QStringLiteral("<the list did not open>")};
    for (int row = 0; row < list->model()->rowCount(); ++row)
        entries << list->model()->index(row, 0).data().toString();
    QTest::keyClick(list, Qt::Key_Escape);
    QCoreApplication::processEvents();
    return entries;
}

// Types text one character at a time: QTest::keyClicks only handles Latin-1. A letter outside
// the basic plane is one key press carrying both of its UTF-16 units, as a keyboard sends it.
inline void typeText(QWidget *widget, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype units = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, text.mid(i, units),
                            Qt::NoModifier);
        i += units - 1;
    }
}

// Types over an edit box's text as a person does: the box takes the focus, Ctrl+A marks its text
// and the letters replace it.
inline void typeOver(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    typeText(edit, text);
    QCoreApplication::processEvents();
}

// Types over an editable drop-down box's text as a person does: the box takes the focus, Ctrl+A
// marks its text and the letters replace it; with no letters, Backspace empties the box.
inline void typeOver(QComboBox *box, const QString &text)
{
    box->setFocus();
    typeOver(box->lineEdit(), text);
}
