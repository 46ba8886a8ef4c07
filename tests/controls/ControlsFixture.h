#pragma once

#include "RecordingDialogs.h"
#include "TempDatabase.h"
#include "controls/DataSource.h"
#include "platform/Sqlite.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

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

// Lets the controls catch up with their record set, as the event loop does before painting.
inline void catchUp()
{
    QCoreApplication::processEvents();
}

// tblMain over a fresh database with dsMain, and a window to put controls on.
class ControlsTest : public ::testing::Test
{
protected:
    TempDatabase db;
    Connection connection{db.path()};
    RecordSet tblMain{QStringLiteral("tblMain"), connection, RecordSet::Kind::Table};
    DataSource dsMain{QStringLiteral("dsMain"), &tblMain};
    RecordingDialogs dialogs;
    QWidget window;

    ControlsTest()
    {
        tblMain.setTableName(QStringLiteral("Main"));
        window.resize(1000, 500);
    }

    // People with a name and a year of birth; month and day 1.
    void addPeople(std::initializer_list<std::pair<const char *, int>> people)
    {
        auto other = db.connect();
        SqliteStatement insert = other->prepare(
            QStringLiteral("INSERT INTO Main (ФИО, Год, Месяц, Число) VALUES (?, ?, 1, 1)"));
        for (const auto &[name, year] : people) {
            insert.bind(1, QString::fromUtf8(name));
            insert.bind(2, year ? SqlValue(qint64(year)) : SqlValue());
            insert.run();
        }
    }

    void showWindow()
    {
        window.show();
        QApplication::setActiveWindow(&window);
        catchUp();
    }

    QString currentName() { return tblMain.FieldNamed(QStringLiteral("ФИО")).AsText(); }
    QString stored(const QString &sql) const { return db.scalar(sql); }
};
