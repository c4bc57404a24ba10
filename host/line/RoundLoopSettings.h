#pragma once

#include <string>

// What the round loop is told to do, in the loop's own terms: the program
// fills it in from its command line (the options and their defaults live
// there).
struct RoundLoopSettings {
    unsigned long rounds = 0;  // 0: until a stop
    double interval_seconds = 1.0;  // from one round's start to the next's
    unsigned long timeout_ms = 0;  // the answer timeout in use, never 0
    unsigned long late_limit_ms = 0;  // quiet time after a timeout, beyond the answer's own
    bool echo = false;  // the adapter echoes what the host sends
    bool check_checksum = true;  // an answer's checksum checked before the meter decodes it
    bool wait_on_unplug = false;  // a line that goes away is waited for, not the run's end
    bool verbose = false;  // each exchange's frames and records told
    std::string stats_json_path;  // empty: the statistics only printed
};
