#pragma once

#include "LookupDriver.h"
#include "RecordingDialogs.h"
#include "Processes.h"
#include "TempDatabase.h"
#include "controls/DataSource.h"
#include "engines/sqlite/SqliteConnection.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

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
        db.addPeople(people);
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
