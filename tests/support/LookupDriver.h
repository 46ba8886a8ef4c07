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

// Types over an editable drop-down box's text as a person does: the box takes the focus, Ctrl+A
// marks its text and the letters replace it; with no letters, Backspace empties the box.
inline void typeOver(QComboBox *box, const QString &text)
{
    box->setFocus();
    QLineEdit *edit = box->lineEdit();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    QCoreApplication::processEvents();
}
