#pragma once

#include "HistoryRow.h"

#include <ostream>
#include <string>
#include <vector>

// Stored history decoded for people (text) and for spreadsheets and plots
// (CSV): row, data id, time stamp, time stored, the twelve raw words and the
// eight signals scaled. A row at a time, for histories of any length.
class HistoryReport {
public:
    static void WriteText(std::ostream& out, const std::vector<HistoryRow>& rows);
    static void WriteCsv(std::ostream& out, const std::vector<HistoryRow>& rows);

    // One row as the text shows it, appended to `out`.
    static void AppendText(std::string& out, const HistoryRow& row);
    // The CSV's first line, the column names, with its newline.
    static std::string CsvHeader();
    // One row as a CSV line appended to `out`; false, and nothing appended,
    // for a row that is not a meter record (the CSV leaves it out).
    static bool AppendCsv(std::string& out, const HistoryRow& row);
};
