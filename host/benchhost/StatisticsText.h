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
void WriteStatisticsText(std::ostream& out, const StatisticsReport& report);
