#include "AgeCalculation.h"

#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

namespace AgeCalculation {

void walk(RecordSet &people, int year)
{
    if (people.AtEnd())
        return;
    // The fields stay the same while the record set is open.
    Field &born = people.FieldNamed(QStringLiteral("Год"));
    Field &age = people.FieldNamed(QStringLiteral("Возраст"));
    Field &jubilee = people.FieldNamed(QStringLiteral("Юбилей"));
    WriteTransaction transaction(people.connection());
    // The grid and the detail panel follow the walk to its last record, or to the one that
    // failed, with one refresh: nothing is painted while the walk runs.
    DisabledControls quiet(people);
    while (!people.AtEnd()) {
        people.StartEdit();
        age.setAsInt(static_cast<qint64>(year) - born.AsInt());
        jubilee.setAsText(age.AsInt() % 5 == 0 ? QStringLiteral("да") : QStringLiteral("нет"));
        // Leaving the record posts it; leaving the last one also sets AtEnd.
        people.ToNext();
    }
    transaction.commit();
    quiet.enable();
}

} // namespace AgeCalculation
