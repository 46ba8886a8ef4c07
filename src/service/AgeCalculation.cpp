#include "AgeCalculation.h"

#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

namespace AgeCalculation {

void walk(RecordSet &people, int year)
{
    WriteTransaction transaction(people.connection());
    while (!people.AtEnd()) {
        people.StartEdit();
        const qint64 age = qint64(year) - people.FieldNamed(QStringLiteral("Год")).AsInt();
        people.FieldNamed(QStringLiteral("Возраст")).setAsInt(age);
        const bool jubilee = people.FieldNamed(QStringLiteral("Возраст")).AsInt() % 5 == 0;
        people.FieldNamed(QStringLiteral("Юбилей"))
            .setAsText(jubilee ? QStringLiteral("да") : QStringLiteral("нет"));
        // Leaving the record posts it; leaving the last one also sets AtEnd.
        people.ToNext();
    }
    transaction.commit();
}

} // namespace AgeCalculation
