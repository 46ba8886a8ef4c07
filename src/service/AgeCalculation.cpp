#include "AgeCalculation.h"

#include "platform/Engine.h"
#include "platform/Error.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

namespace AgeCalculation {

namespace {

// Commits the walk. When the file refuses the commit it keeps none of the walk, so the records
// held in memory are read again from it (the cursor stays where it was) and the user is told that
// the calculation was not saved.
void commitOrShowTheFile(Transaction &transaction, RecordSet &people)
{
    try {
        transaction.commit();
    } catch (const Error &e) {
        people.CancelRecord(); // the walk's own change of a record that failed to post
        people.Reread();
        throw Error(QStringLiteral("Расчёт возраста не сохранён в базе данных: ") + e.message());
    }
}

} // namespace

void walk(RecordSet &people, int year)
{
    if (people.AtEnd())
        return;
    // The fields stay the same while the record set is open.
    Field &born = people.FieldNamed(QStringLiteral("Год"));
    Field &age = people.FieldNamed(QStringLiteral("Возраст"));
    Field &jubilee = people.FieldNamed(QStringLiteral("Юбилей"));
    // One transaction for the whole walk: another computer never sees half of it, and a failure
    // keeps every person posted before it.
    Transaction transaction(people.connection().engine(), Transaction::Ending::KeepWhatWasPosted);
    // The grid and the detail panel follow the walk to its last record, or to the one that
    // failed, with one refresh: nothing is painted while the walk runs.
    DisabledControls quiet(people);
    try {
        while (!people.AtEnd()) {
            people.StartEdit();
            age.setAsInt(static_cast<qint64>(year) - born.AsInt());
            jubilee.setAsText(age.AsInt() % 5 == 0 ? QStringLiteral("да") : QStringLiteral("нет"));
            // Leaving the record posts it; leaving the last one also sets AtEnd.
            people.ToNext();
        }
    } catch (const Error &) {
        // Everyone posted before the failure is kept.
        commitOrShowTheFile(transaction, people);
        throw;
    }
    commitOrShowTheFile(transaction, people);
    quiet.enable();
}

} // namespace AgeCalculation
