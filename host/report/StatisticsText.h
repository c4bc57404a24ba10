#pragma once

#include "StatisticsReport.h"

#include <ostream>
#include <string>

// "9600 8N1": the line's speed and character framing.
std::string LineSettingsName(const LineSettings& line);

// The statistics as a table: a heading line with the run's time and the
// line's wire limit, then one row per figure and one column per meter, the
// line's totals last. Times in ms, rates and shares with two decimals, the
// precision the JSON carries too; "-" for response times of no completed
// round.
//
// When a column per meter would make the table wider than 100 characters
// (a line of more than a handful of meters), it turns: one row per meter and
// the line's last, in two tables, the counts and rates, then the response
// times with the rounds lost by reason in words ("no answer 2, short 1",
// "-" for none). Each column's label stands over two lines, split at its
// first space ("rounds" over "completed").
void WriteStatisticsText(std::ostream& out, const StatisticsReport& report);
