#include "AgeCalculation.h"

#include "engines/Engine.h"
#include "engines/EngineErrors.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <optional>

namespace AgeCalculation {

namespace {

// Commits the walk. When the file refuses the commit it keeps none of the walk, so the records
// held in memory are read again from it (the cursor stays where it was) and the user is told that
// the calculation was not saved, and why: the failure that ended the walk, where there was one
// (a full disk makes the engine roll the whole transaction back, and the commit then only finds
// none to commit).
// A server that went silent is not waited for a second time: the records are put away unread,
// and the window shows that the register waits to be loaded again (the refresh button), so that
// no age that was never stored stays on screen.
void commitOrShowTheFile(Transaction &transaction, RecordSet &people, const QString &cause = {},
                         bool silent = false)
{
    try {
        transaction.commit();
    } catch (const Error &e) {
        people.CancelRecord(); // the walk's own change of a record that failed to post
        const QString why = QStringLiteral("Расчёт возраста не сохранён в базе данных: ") +
                            (cause.isEmpty() ? e.message() : cause);
        try {
            if (silent && people.connection().onServer())
                throw e;
            people.Reread();
        } catch (const Error &) {
            if (!people.connection().onServer())
                throw;
            people.setActive(false);
            people.openLater();
        }
        throw Error(why);
    }
}

// Begins the walk's transaction. A walk that cannot begin (the register busy, the server gone)
// leaves no record in editing that the user had not changed.
Engine &beginWalk(RecordSet &people, std::optional<Transaction> &transaction)
{
    const bool usersOwn = people.IsModified();
    try {
        Engine &engine = people.connection().engine();
        transaction.emplace(engine);
        // One calculation at a time: another computer's waits until this one is committed, and
        // then finds the register changed under what it read.
        engine.takeTable(people.tableName());
        engine.changeWholeTable(people.tableName());
        engine.sendPostsAhead();
        return engine;
    } catch (const Error &) {
        if (!usersOwn)
            people.CancelRecord();
        throw;
    }
}

struct PersonFields
{
    Field &born;
    Field &age;
    Field &jubilee;
};

// Computes and posts every person from the current one to the last. A post sent earlier and
// refused ends the walk there instead (RefusedPost).
void postToTheEnd(RecordSet &people, int year, const PersonFields &person, Engine &engine)
{
    try {
        while (!people.AtEnd()) {
            people.StartEdit();
            person.age.setAsInt(static_cast<qint64>(year) - person.born.AsInt());
            person.jubilee.setAsText(person.age.AsInt() % 5 == 0 ? QStringLiteral("да")
                                                                 : QStringLiteral("нет"));
            // Leaving the record posts it; leaving the last one also sets AtEnd.
            people.ToNext();
        }
    } catch (const RefusedPost &) {
        throw;
    } catch (const Error &) {
        engine.settlePosts();
        throw;
    }
    engine.settlePosts();
}

// Stores, within the walk's transaction, the year the ages were calculated for; other programs
// read it again as one change of its table.
void storeYear(Engine &engine, const RecordSet &agesYear, int year)
{
    engine.changeWholeTable(agesYear.tableName());
    engine.execute(QStringLiteral("INSERT INTO %1 (Код, Год) VALUES (1, $1) "
                                  "ON CONFLICT (Код) DO UPDATE SET Год = excluded.Год")
                       .arg(agesYear.tableName()),
                   {Value(qint64(year))});
}

} // namespace

void walk(RecordSet &people, int year, RecordSet *agesYear)
{
    if (people.AtEnd())
        return;
    const bool everyone = people.currentRow() == 0;
    // The fields stay the same while the record set is open.
    const PersonFields person{people.FieldNamed(QStringLiteral("Год")),
                              people.FieldNamed(QStringLiteral("Возраст")),
                              people.FieldNamed(QStringLiteral("Юбилей"))};
    // One transaction for the whole walk: another computer never sees half of it, and a failure
    // keeps every person posted before it. On a server posts go without waiting for answers.
    std::optional<Transaction> transaction;
    Engine &engine = beginWalk(people, transaction);
    // The grid and the detail panel follow the walk to its last record, or to the one that
    // failed, with one refresh: nothing is painted while the walk runs.
    DisabledControls quiet(people);
    // A person another computer changed before the walk took the register is read again and
    // computed from their year as stored; one it deleted is passed over. Nobody else writes
    // while the walk holds the register, so each person is read again at most once.
    for (int rereads = 0;; ++rereads) {
        try {
            postToTheEnd(people, year, person, engine);
            break;
        } catch (const RefusedPost &refused) {
            // The walk had gone past the refused person: the transaction holds everyone before
            // them, and the records after them hold in memory what was never stored.
            people.CancelRecord();
            people.ToKey(refused.key());
            if (refused.changedElsewhere() && rereads < people.rowCount()) {
                people.RefreshRecord();
                continue;
            }
            const QString who = people.FieldNamed(QStringLiteral("ФИО")).AsText().trimmed();
            commitOrShowTheFile(*transaction, people);
            people.Reread();
            people.ToKey(refused.key());
            throw Error(QStringLiteral("Запись «%1» не сохранена: %2").arg(who, refused.message()));
        } catch (const RowChangedElsewhere &changed) {
            people.CancelRecord();
            if (rereads < people.rowCount()) {
                people.RefreshRecord();
                continue;
            }
            commitOrShowTheFile(*transaction, people, changed.message());
            throw;
        } catch (const Error &e) {
            // Everyone posted before the failure is kept.
            commitOrShowTheFile(*transaction, people, e.message(),
                                dynamic_cast<const ServerSilent *>(&e) != nullptr);
            throw;
        }
    }
    const bool yearKept = everyone && agesYear && agesYear->Active();
    if (yearKept)
        storeYear(engine, *agesYear, year);
    commitOrShowTheFile(*transaction, people);
    quiet.enable();
    if (yearKept)
        agesYear->Reread();
}

} // namespace AgeCalculation
