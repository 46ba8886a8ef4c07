#pragma once

// A grid on the people's data source, with a line edit beside it to take the focus, and the keys
// a person presses.
#include "ControlsFixture.h"

#include "controls/DBGrid.h"

#include <QHeaderView>
#include <QLineEdit>

class GridTest : public ControlsTest
{
protected:
    GridTest()
    {
        grid = new DBGrid(&window);
        grid->setObjectName(QStringLiteral("dbgrd1"));
        grid->setGeometry(0, 0, 980, 300);
        other = new QLineEdit(&window);
        other->setGeometry(0, 320, 200, 30);
        grid->setDataSource(&dsMain);
    }
    void open(std::initializer_list<std::pair<const char *, int>> people)
    {
        addPeople(people);
        tblMain.setActive(true);
        showWindow();
        grid->setFocus();
        catchUp();
    }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget *target = grid->isEditorOpen() ? QApplication::focusWidget() : grid;
        QTest::keyClick(target ? target : grid, k, modifiers);
        catchUp();
    }
    void type(const QString &text)
    {
        for (const QChar c : text) {
            QWidget *target = grid->isEditorOpen() ? QApplication::focusWidget() : grid;
            QTest::sendKeyEvent(QTest::Click, target ? target : grid, Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
        }
        catchUp();
    }
    // Puts the current column on the field with this title.
    void goToColumn(const QString &title)
    {
        key(Qt::Key_Home);
        while (grid->columnTitle(grid->horizontalHeader()->logicalIndex(grid->currentColumn())) !=
               title)
            key(Qt::Key_Right);
    }

    DBGrid *grid;
    QLineEdit *other;
};
