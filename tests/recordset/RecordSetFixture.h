#pragma once

#include "TempDatabase.h"
#include "platform/Error.h"
#include "engines/sqlite/SqliteConnection.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

// Runs `action` and checks that it fails with exactly `message`.
inline void expectError(const std::function<void()> &action, const QString &message)
{
    try {
        action();
        ADD_FAILURE() << "no error; expected: " << message.toStdString();
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), message);
    }
}

// Writes down every notification a record set sends.
struct Recorder : DataLink
{
    QStringList events;
    std::function<void()> onUpdateRecord;

    void fieldChanged(Field &field) override
    {
        events << QStringLiteral("field ") + field.FieldName();
    }
    void recordChanged() override { events << QStringLiteral("record"); }
    void dataSetChanged() override { events << QStringLiteral("changed"); }
    void dataSetScrolled(int distance) override
    {
        events << QStringLiteral("scrolled %1").arg(distance);
    }
    void layoutChanged() override { events << QStringLiteral("layout"); }
    void updateRecord() override
    {
        events << QStringLiteral("update");
        if (onUpdateRecord)
            onUpdateRecord();
    }
    void stateChanged() override { events << QStringLiteral("state"); }
};

// A fresh Base.mdb with the program's tables and a tblMain over it, not yet opened.
class RecordSetTest : public ::testing::Test
{
protected:
    TempDatabase db;
    Connection connection{db.path()};
    RecordSet tblMain{QStringLiteral("tblMain"), connection, RecordSet::Kind::Table};

    RecordSetTest() { tblMain.setTableName(QStringLiteral("Main")); }

    // Adds people through a separate connection: name and year of birth (0 for none).
    void addPeople(std::initializer_list<std::pair<const char *, int>> people)
    {
        db.addPeople(people, "01.01.");
    }

    void openMain() { tblMain.setActive(true); }

    QString name() { return tblMain.FieldNamed(QStringLiteral("ФИО")).AsText(); }

    // What another program reading the file sees.
    QString stored(const QString &sql) const { return db.scalar(sql); }
    int storedCount() const { return stored(QStringLiteral("SELECT count(*) FROM Main")).toInt(); }
};
