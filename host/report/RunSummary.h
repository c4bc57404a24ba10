#pragma once

#include "StatisticsReport.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

// The two things that end every run, also one that a failure ends: the
// summary line, then the statistics.

struct RunCounts {
    const char* ending;  // "done", "stopped" or "failed"
    std::size_t meters;
    std::uint64_t rounds_begun;
    std::uint64_t completed;
    std::uint64_t lost;
    std::uint64_t cut_round;  // 0: none
    std::uint64_t published;
    std::uint64_t stored;
    std::string history_path;
    std::uint64_t not_stored;
    std::uint64_t dropped_bytes;  // outside an exchange
    bool checksum_checked;
};

// "done: 5 rounds of 3 meters, 15 completed, 0 lost; 15 records published,
// 15 stored in FILE" and what else the run has to own up to.
void WriteRunSummary(std::ostream& out, const RunCounts& counts);

// The statistics table and the line's outages on `text`; with a
// `json_path`, the statistics file as well. A run that `failed` already
// has its error to report: a statistics file that cannot be written then
// is only noted on standard error, not thrown over it.
void WriteRunStatistics(std::ostream& text, const StatisticsReport& report,
                        const std::string& json_path, bool failed);
