#pragma once

#include <string>

// What the round loop is told to do, in the loop's own terms. The program
// fills in every field from its command line, where the options' defaults
// live; these have none of their own.
struct RoundLoopSettings {
    unsigned long rounds{};  // 0: until a stop
    double interval_seconds{};  // from one round's start to the next's
    unsigned long timeout_ms{};  // the answer timeout in use, never 0
    unsigned long late_limit_ms{};  // quiet time after a timeout, beyond the answer's own
    bool echo{};  // the adapter echoes what the host sends
    bool check_checksum{};  // an answer's checksum checked before the meter decodes it
    bool wait_on_unplug{};  // a line that goes away is waited for, not the run's end
    bool verbose{};  // each exchange's frames and records told
    std::string stats_json_path;  // empty: the statistics only printed
};
