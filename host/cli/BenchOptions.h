#pragma once

#include "FaultPlan.h"
#include "LineFaults.h"
#include "LineSettings.h"
#include "LinkOptions.h"
#include "LongestWait.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

// The bench host's command line.
struct BenchOptions {
    std::string plugin_path;
    std::vector<std::string> settings_paths;  // one a meter, polled in this order
    std::string port;  // empty: the embedded simulated meter
    std::string history_path = "bench-history.sqlite";
    double interval_seconds = 1.0;
    static constexpr double kLongestIntervalSeconds = 86400.0;
    unsigned long rounds = 0;  // 0: until interrupted
    unsigned long timeout_ms = 0;  // 0: the line's default (LineSettings)
    // A minute is far beyond any meter's answer, and keeps deadlines on the
    // clock's range: no wait of the bench host is longer.
    static constexpr unsigned long kLongestWaitMs = ::kLongestWaitMs;
    // How long after its request an answer may still come: after a request
    // that drew no answer the line is left quiet until then. 0: that many
    // answer timeouts, at most the longest wait.
    static constexpr unsigned long kLateLimitTimeouts = 4;
    static unsigned long DefaultLateLimitMs(unsigned long timeout_ms);
    unsigned long late_limit_ms = 0;
    // Unset: what the framework makes of the first meter's own settings.
    // A speed within the bounds that the port has no setting for is the
    // port's to refuse.
    static constexpr long long kLowestBaud = 1;
    static constexpr long long kHighestBaud = 4000000;
    std::optional<int> baud;
    std::optional<Parity> parity;
    std::optional<int> stop_bits;
    bool echo = false;  // the adapter echoes what the host sends
    bool check_checksum = true;  // an answer's checksum checked before the meter decodes it
    bool wait_on_unplug = false;  // a line that goes away is waited for, not the run's end
    bool verbose = false;
    bool dump = false;
    bool csv = false;
    std::string plot_path;  // empty: no plot
    // The stretch of time --plot draws, as typed (checked by HistoryPlot's
    // WindowStart and WindowUntil); empty: from the first, to the last record.
    std::string plot_from;
    std::string plot_to;
    std::string stats_json_path;  // empty: the statistics only printed
    std::optional<std::uint32_t> data_id;  // the device a history tool shows
    static constexpr long long kHighestDataId = std::numeric_limits<std::uint32_t>::max();
    bool help = false;
    FaultPlan simulator_faults;
    unsigned long simulator_late_ms = FaultPlan::kDefaultLateDelay.count();
    int simulator_copy_gap = kFollowingGapCharacters;
    bool simulator_echo = false;
    LineFaults simulator_line;

    // Commissioning a line: the scan, the serial link, the simulated line's
    // meters put where a scan has to find them.
    bool version = false;
    bool scan = false;
    std::vector<std::uint8_t> scan_stations;  // empty: every station (StationAddress)
    std::vector<LineSettings> scan_framings;  // empty: the common ones (LineChoices)
    std::string write_settings_dir;           // empty: no settings written
    std::vector<std::uint8_t> simulator_stations;  // empty: the meters' own stations
    std::optional<LineSettings> simulator_framing;  // unset: the line's own
    LinkOptions link;
    static constexpr unsigned long kLongestPauseMs = kLongestWaitMs;

    // The line the options ask for, starting from `driver_line`, what the
    // framework makes of the first meter's own settings.
    LineSettings LineFrom(LineSettings driver_line) const;
    // The defaults that follow from the line once it is open: the answer
    // timeout from its framing and `network_allowance` (a gateway's round
    // trip), the late limit from the answer timeout. Whether the answer
    // timeout was worked out here.
    bool ResolveTimes(const LineSettings& line, std::chrono::milliseconds network_allowance);

    // Throws BenchError (usage) on anything it cannot take.
    static BenchOptions Parse(int argc, const char* const* argv, const std::string& default_plugin,
                              const std::string& default_settings);
    static std::string Help(const std::string& default_plugin, const std::string& default_settings);
};
