#pragma once

class RecordSet;

// The spreadsheet report of a list: a new workbook with the sheet "ОТЧЕТ", a blue bold title, a
// bold header row and one row per record of the list, handed to the user on the desktop.
namespace Report {

void exportList(RecordSet &list);

} // namespace Report
