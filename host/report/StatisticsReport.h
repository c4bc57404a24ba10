#pragma once

#include "LineSettings.h"
#include "MeterKey.h"
#include "PollFigures.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// A run's statistics, per meter in the order they were first polled and
// for the line, with the yardstick the line use is measured against.
struct StatisticsReport {
    LineSettings line;
    double poll_ms = 0.0;                    // wire time of one poll
    double wire_limit_polls_per_second = 0.0;
    double run_seconds = 0.0;                // first request to the end of the run
    bool checksum_checked = true;            // answers checked before the meter decodes them
    std::uint64_t outages = 0;               // times the line went away
    double outage_seconds = 0.0;             // how long it was away, in all
    std::optional<int> latency_timer_ms;     // a USB adapter's, where the kernel tells it
    std::vector<std::pair<MeterKey, PollFigures>> meters;
    PollFigures line_total;
};
