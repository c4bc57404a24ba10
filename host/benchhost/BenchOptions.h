#pragma once

#include "FaultPlan.h"
#include "LineSettings.h"

#include <cstdint>
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
    unsigned long rounds = 0;  // 0: until interrupted
    unsigned long timeout_ms = 0;  // 0: the line's default (LineSettings)
    // A minute is far beyond any meter's answer, and keeps deadlines on the
    // clock's range: no wait of the bench host is longer.
    static constexpr unsigned long kLongestWaitMs = 60000;
    // How long after its request an answer may still come: after a request
    // that drew no answer the line is left quiet until then. 0: that many
    // answer timeouts, at most the longest wait.
    static constexpr unsigned long kLateLimitTimeouts = 4;
    unsigned long late_limit_ms = 0;
    // Unset: what the framework makes of the first meter's own settings.
    std::optional<int> baud;
    std::optional<Parity> parity;
    std::optional<int> stop_bits;
    bool echo = false;  // the adapter echoes what the host sends
    bool check_checksum = true;  // an answer's checksum checked before the meter decodes it
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
    bool help = false;
    FaultPlan simulator_faults;
    unsigned long simulator_late_ms = 800;
    bool simulator_echo = false;

    // Throws BenchError (usage) on anything it cannot take.
    static BenchOptions Parse(int argc, const char* const* argv, const std::string& default_plugin,
                              const std::string& default_settings);
    static std::string Help(const std::string& default_plugin, const std::string& default_settings);
};
