#pragma once

#include "HistoryRow.h"

#include <ostream>
#include <vector>

// Stored history decoded for people (WriteText) and for spreadsheets and
// plots (WriteCsv): row, data id, time stamp, time stored, the twelve raw
// words and the eight signals scaled.
class HistoryReport {
public:
    static void WriteText(std::ostream& out, const std::vector<HistoryRow>& rows);
    static void WriteCsv(std::ostream& out, const std::vector<HistoryRow>& rows);
};
