#pragma once

#include <optional>

class RecordSet;

// The spreadsheet report of a list: a new workbook with the sheet "ОТЧЕТ", a blue bold title, a
// bold header row and one row per record of the list, handed to the user on the desktop. The
// title names the year the ages were calculated for, when it is known.
namespace Report {

void exportList(RecordSet &list, std::optional<int> agesYear = std::nullopt);

} // namespace Report
