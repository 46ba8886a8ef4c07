#pragma once

class RecordSet;

// The age and jubilee calculation of "СФОРМИРОВАТЬ СПИСОК", shared by the main window's handler
// and the benchmarks, so that what is measured is what runs.
namespace AgeCalculation {

// From the current record to the end of `people`, record by record: Возраст := year - Год (an
// empty Год reads as 0), Юбилей := "да" when that age read back is a multiple of five, otherwise
// "нет"; each record is posted as the cursor moves on. The whole walk is one write transaction,
// committed at its end or at a failure, with every record posted before the failure. A person
// another computer changed since the records were read is read again and computed from their year
// as stored; one deleted meanwhile is passed over. A commit the file refuses keeps nothing: the
// records are read again from the file and the failure says that the calculation was not saved.
// Other computers are told of one change of the whole table. A walk from the first record that
// stores everyone also stores `year` as the year of the ages, in `agesYear` (the register's
// Raschet, when open), in the same transaction.
void walk(RecordSet &people, int year, RecordSet *agesYear = nullptr);

} // namespace AgeCalculation
