#include "BenchOptions.h"

#include "BenchError.h"
#include "GatewayAddress.h"
#include "HistoryPlot.h"
#include "LineChoices.h"
#include "QVT7702.h"
#include "StationAddress.h"

#include <boost/program_options.hpp>

#include <algorithm>
#include <cstdio>

#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace po = boost::program_options;

namespace {

// "L to H", for a bound's help text and its message alike.
std::string Range(long long lowest, long long highest) {
    return std::to_string(lowest) + " to " + std::to_string(highest);
}

const std::string kLongestWait = std::to_string(BenchOptions::kLongestWaitMs);

// What the command line gives as text or signed numbers, checked after.
struct RawOptions {
    std::vector<std::string> faults;
    std::vector<std::string> line_faults;
    long long rounds = 0;
    long long timeout_ms = 0;
    long long late_limit_ms = 0;
    long long late_ms = FaultPlan::kDefaultLateDelay.count();
    long long copy_gap = kFollowingGapCharacters;
    long long data_id = 0;
    long long baud = 0;
    std::string parity;
    int stop_bits = 0;
    bool no_checksum = false;
    std::string unplug;
};

[[noreturn]] void UsageError(const std::string& message);

// The commissioning options as given, checked after.
struct CommissionWords {
    std::string stations;
    std::string framings;
    std::string sim_stations;
    std::string sim_framing;
    bool rs485 = false;
    std::string rs485_delays;
    long long open_pause_ms = 0;
    long long request_gap_ms = 0;
};

po::options_description DescribeCommissioning(BenchOptions& options, CommissionWords& words) {
    po::options_description described("Commissioning a line");
    described.add_options()
        ("version", po::bool_switch(&options.version), "print the version and the commit, and exit")
        ("scan", po::bool_switch(&options.scan),
         "find the meters on the line: send the meter's request to every station at every "
         "framing, report what answers, and exit")
        ("stations", po::value(&words.stations)->value_name("LIST"),
         ("--scan: the stations to try, such as 1-20,30 (default " +
          std::to_string(StationAddress::kLowest) + "-" + std::to_string(StationAddress::kHighest) +
          ")").c_str())
        ("framings", po::value(&words.framings)->value_name("LIST"),
         ("--scan: the framings to try, such as 9600:8N1,19200:8E1 (default: " +
          std::to_string(LineChoices::CommonSpeeds().size()) + " speeds from " +
          std::to_string(*std::min_element(LineChoices::CommonSpeeds().begin(),
                                            LineChoices::CommonSpeeds().end())) +
          " to " +
          std::to_string(*std::max_element(LineChoices::CommonSpeeds().begin(),
                                            LineChoices::CommonSpeeds().end())) +
          ", each at " +
          [] {
              std::string list;
              for (const std::string& framing : LineChoices::CommonFramings())
                  list += (list.empty() ? "" : ", ") + framing;
              return list;
          }() + ")").c_str())
        ("write-settings", po::value(&options.write_settings_dir)->value_name("DIR"),
         "--scan: write a settings file for each meter found into DIR, with its station and "
         "a data id no file there has")
        ("rs485", po::bool_switch(&words.rs485),
         "put the port in the kernel's RS-485 mode: RTS raised while sending")
        ("rs485-delays", po::value(&words.rs485_delays)->value_name("BEFORE,AFTER"),
         "--rs485: RTS delays before and after sending, in ms (default 0,0)")
        ("open-pause", po::value(&words.open_pause_ms)->value_name("MS"),
         "wait this long after the port opens, dropping what arrives meanwhile (default none)")
        ("request-gap", po::value(&words.request_gap_ms)->value_name("MS"),
         "the least time from one request to the next, in ms (default none)")
        ("sim-stations", po::value(&words.sim_stations)->value_name("LIST"),
         "simulated line: put its meters at these stations, such as 5,17,200 (default: the "
         "settings files' stations)")
        ("sim-framing", po::value(&words.sim_framing)->value_name("SPEED:FRAMING"),
         "simulated line: its meters hear only this framing, such as 19200:8E1 (default: the "
         "line's own)");
    return described;
}

// Gives the commissioning words their meaning, and refuses what does not go
// together.
void CheckCommissioning(const po::variables_map& given, BenchOptions& options,
                        const CommissionWords& words) {
    const auto read = [](const std::string& option, auto parse) {
        try {
            return parse();
        } catch (const std::invalid_argument& failure) {
            UsageError("--" + option + ": " + failure.what());
        }
    };
    if (given.count("stations") != 0)
        options.scan_stations = read("stations", [&] { return LineChoices::ParseStations(words.stations); });
    if (given.count("framings") != 0)
        options.scan_framings = read("framings", [&] { return LineChoices::ParseFramings(words.framings); });
    if (given.count("sim-stations") != 0)
        options.simulator_stations =
            read("sim-stations", [&] { return LineChoices::ParseStations(words.sim_stations); });
    if (given.count("sim-framing") != 0)
        options.simulator_framing =
            read("sim-framing", [&] { return LineChoices::ParseFraming(words.sim_framing); });
    if (!options.scan && (given.count("stations") != 0 || given.count("framings") != 0 ||
                          given.count("write-settings") != 0))
        UsageError("--stations, --framings and --write-settings belong to --scan");
    if (options.scan && (options.dump || options.csv || !options.plot_path.empty()))
        UsageError("--scan cannot be given with --dump, --csv or --plot");
    if (options.scan && (given.count("baud") != 0 || given.count("parity") != 0 ||
                         given.count("stop-bits") != 0))
        UsageError("--scan tries the framings --framings names, not --baud, --parity or "
                   "--stop-bits");
    if (given.count("write-settings") != 0 && options.write_settings_dir.empty())
        UsageError("--write-settings needs a folder, not an empty word");
    const bool gateway = GatewayAddress::Names(options.port);
    if (gateway)
        read("port", [&] { return GatewayAddress::Parse(options.port); });
    if (gateway && options.scan && options.scan_framings.size() > 1)
        UsageError("a gateway's serial side is framed at the gateway: give --framings one "
                   "framing, the one it is set to, or leave it out");
    if (!options.port.empty() && (!words.sim_stations.empty() || !words.sim_framing.empty()))
        UsageError("--sim-stations and --sim-framing apply to the simulated line, not to --port");
    if (words.rs485) {
        if (gateway)
            UsageError("--rs485 sets a serial port of this machine, not a gateway's");
        options.link.rs485 = LinkOptions::Rs485{};
    }
    if (given.count("rs485-delays") != 0) {
        if (!words.rs485)
            UsageError("--rs485-delays belongs to --rs485");
        unsigned int before = 0;
        unsigned int after = 0;
        char comma = 0;
        char rest = 0;
        if (std::sscanf(words.rs485_delays.c_str(), "%u%c%u%c", &before, &comma, &after, &rest) != 3 ||
            comma != ',' || before > LinkOptions::kLongestRs485DelayMs ||
            after > LinkOptions::kLongestRs485DelayMs ||
            words.rs485_delays.find_first_not_of("0123456789,") != std::string::npos)
            UsageError("--rs485-delays must be BEFORE,AFTER in whole ms from 0 to " +
                       std::to_string(LinkOptions::kLongestRs485DelayMs) + ", not '" +
                       words.rs485_delays + "'");
        options.link.rs485->delay_before_ms = before;
        options.link.rs485->delay_after_ms = after;
    }
    const std::pair<const char*, long long> pauses[] = {
        {"open-pause", words.open_pause_ms}, {"request-gap", words.request_gap_ms}};
    for (const auto& [option, value] : pauses)
        if (value < 0 || value > static_cast<long long>(BenchOptions::kLongestPauseMs))
            UsageError(std::string("--") + option + " must be from 0 to " +
                       std::to_string(BenchOptions::kLongestPauseMs) + " ms");
    options.link.open_pause = std::chrono::milliseconds(words.open_pause_ms);
    options.link.request_gap = std::chrono::milliseconds(words.request_gap_ms);
}

po::options_description Describe(BenchOptions& options, RawOptions& raw) {
    po::options_description described("Options");
    described.add_options()
        ("help,h", po::bool_switch(&options.help), "show this help")
        ("plugin", po::value(&options.plugin_path)->value_name("FILE"),
         "the plug-in library to load")
        ("settings", po::value(&options.settings_paths)->value_name("FILE"),
         "a meter's JSON settings, with its \"dataId\" and \"stationAddress\"; repeat it "
         "for each meter on the line, polled in that order")
        ("port", po::value(&options.port)->value_name("DEVICE"),
         "serial device of a real line, such as /dev/ttyUSB0 "
         "(default: the built-in simulated line)")
        ("baud", po::value(&raw.baud)->value_name("N"),
         ("line speed, " + Range(BenchOptions::kLowestBaud, BenchOptions::kHighestBaud) +
          " (default: the driver's, " + std::to_string(QVT7702::kBaudRate) + ")").c_str())
        ("parity", po::value(&raw.parity)->value_name("none|even|odd"),
         "parity bit (default none, from the driver's serial parameter)")
        ("stop-bits", po::value(&raw.stop_bits)->value_name("1|2"), "stop bits (default 1)")
        ("echo", po::bool_switch(&options.echo),
         "the adapter echoes every byte sent: check and drop the echo of each request")
        ("unplug", po::value(&raw.unplug)->value_name("wait|end"),
         "when the port or the gateway's connection goes away: wait for the same device to "
         "come back and go on, or end the run (default: wait when polling until Ctrl-C, end "
         "with --rounds)")
        ("no-checksum", po::bool_switch(&raw.no_checksum),
         "hand answers to the driver without checking their checksum, as the controller's "
         "framework may: an answer damaged on the line is then decoded as a reading")
        ("history", po::value(&options.history_path)->value_name("FILE"),
         "SQLite file for the device history")
        ("stats-json", po::value(&options.stats_json_path)->value_name("FILE"),
         "also write the run's statistics to FILE as JSON, when the run ends")
        ("interval", po::value(&options.interval_seconds)->value_name("SECONDS"),
         ("time from one poll to the next, " +
          Range(0, static_cast<long long>(BenchOptions::kLongestIntervalSeconds)) +
          " (default 1)").c_str())
        ("rounds", po::value(&raw.rounds)->value_name("N"),
         "stop after N rounds, N at least 1 (default: poll until Ctrl-C)")
        ("timeout", po::value(&raw.timeout_ms)->value_name("MS"),
         ("how long to wait for an answer, in ms, 1 to " + kLongestWait +
          " (default " + std::to_string(LineSettings::kAnswerTimeoutCharacters) +
          " characters of the line: " + std::to_string(LineSettings{}.DefaultAnswerTimeout().count()) +
          " at " + std::to_string(LineSettings{}.baud) + " baud " + LineSettings{}.Framing() +
          ")").c_str())
        ("late-limit", po::value(&raw.late_limit_ms)->value_name("MS"),
         ("how long after its request a meter's answer may still come, in ms, 1 to " +
          kLongestWait +
          ": after a request without any answer nothing is sent until then, and an answer "
          "that comes by then is dropped, not taken for the next request's (default: " +
          std::to_string(BenchOptions::kLateLimitTimeouts) + " answer timeouts, at most " +
          kLongestWait + ")").c_str())
        ("verbose,v", po::bool_switch(&options.verbose),
         "show every request, answer and published record, and the plug-in's own lines")
        ("dump", po::bool_switch(&options.dump), "print the stored history decoded, and exit")
        ("csv", po::bool_switch(&options.csv), "print the stored history as CSV, and exit")
        ("plot", po::value(&options.plot_path)->value_name("FILE"),
         "draw the stored history of one data id over time into FILE (.svg or .png) "
         "with gnuplot, and exit")
        ("from", po::value(&options.plot_from)->value_name("TIME"),
         "--plot: draw the records stored from this local time on, such as \"2026-12-08 "
         "20:00\", or from the start of a date, such as 2026-12-08 (default: the first)")
        ("to", po::value(&options.plot_to)->value_name("TIME"),
         "--plot: draw the records stored up to this local time, or to the end of this date "
         "(default: the last)")
        ("data-id", po::value(&raw.data_id)->value_name("N"),
         ("the data id, " + Range(0, BenchOptions::kHighestDataId) +
          ", that --plot draws (default: the only one in the history) or --dump and "
          "--csv show (default: all)").c_str())
        ("sim-fault", po::value(&raw.faults)->value_name("KIND@[S:]N[,N...]"),
         ("simulated line: put a fault into the answer to station S's request N, or with * "
          "for N into every request of S (without S: the first meter's), one fault per "
          "request; KIND is one of " +
          FaultPlan::KindList()).c_str())
        ("sim-late", po::value(&raw.late_ms)->value_name("MS"),
         ("simulated line: how late a late answer comes, in ms, 0 to " + kLongestWait +
          " (default " + std::to_string(FaultPlan::kDefaultLateDelay.count()) +
          ")").c_str())
        ("sim-copy-gap", po::value(&raw.copy_gap)->value_name("CHARS"),
         ("simulated line: characters of silence before a twice fault's copy or a neighbour "
          "fault's answer, 0 to " +
          std::to_string(kMostFollowingGapCharacters) + " (default " +
          std::to_string(kFollowingGapCharacters) + ")")
             .c_str())
        ("sim-echo", po::bool_switch(&options.simulator_echo),
         "simulated line: echo every byte the host sends, as many adapters do")
        ("sim-line", po::value(&raw.line_faults)->value_name("KIND[=N]"),
         ("simulated line: a fault of the whole line, in every answer; may be repeated, "
          "each kind once; KIND is one of " +
          LineFaults::KindList()).c_str());
    return described;
}

int Status(ExitCode code) {
    return static_cast<int>(code);
}

[[noreturn]] void UsageError(const std::string& message) {
    throw BenchError(ExitCode::kUsage, message + " (see --help)");
}

unsigned long NotNegative(long long value, const char* option) {
    if (value < 0)
        UsageError(std::string("--") + option + " cannot be negative");
    return static_cast<unsigned long>(value);
}

// Every word must belong to an option: a stray word is most likely a
// mistyped option, and ignoring it would run something the user did not ask for.
void RefuseStrayWords(const po::parsed_options& parsed) {
    const std::vector<std::string> stray =
        po::collect_unrecognized(parsed.options, po::include_positional);
    if (!stray.empty())
        UsageError("unexpected word '" + stray.front() +
                   "' on the command line (options start with --)");
}

// A path option given as "" would otherwise fall back to a default, such as
// the simulated meter for --port.
void RefuseEmptyPaths(const po::variables_map& given, const BenchOptions& options) {
    const std::pair<const char*, const std::string*> paths[] = {
        {"plugin", &options.plugin_path},
        {"port", &options.port},
        {"history", &options.history_path},
        {"plot", &options.plot_path},
        {"stats-json", &options.stats_json_path},
    };
    for (const auto& [option, path] : paths)
        if (given.count(option) != 0 && path->empty())
            UsageError(std::string("--") + option + " needs a path, not an empty word");
    for (const std::string& path : options.settings_paths)
        if (path.empty())
            UsageError("--settings needs a path, not an empty word");
}

// --plot draws one device's history into an image whose kind its name
// tells; --data-id picks that device, for --dump and --csv too.
void CheckPlot(const po::variables_map& given, BenchOptions& options, long long data_id) {
    if (!options.plot_path.empty() && (options.dump || options.csv))
        UsageError("--plot cannot be given with --dump or --csv");
    if (!options.stats_json_path.empty() && (options.dump || options.csv || !options.plot_path.empty()))
        UsageError("--stats-json writes a polling run's statistics: not with --dump, --csv or "
                   "--plot");
    if (!options.plot_path.empty() && !HistoryPlot::FormatOf(options.plot_path))
        UsageError("--plot needs a file name ending in .svg or .png, not '" +
                   options.plot_path + "'");
    if (given.count("data-id") == 0)
        return;
    if (options.plot_path.empty() && !options.dump && !options.csv)
        UsageError("--data-id chooses the records --plot, --dump or --csv show (a polled "
                   "meter's data id comes from its settings)");
    if (data_id < 0 || data_id > BenchOptions::kHighestDataId)
        UsageError("--data-id must be from " + Range(0, BenchOptions::kHighestDataId));
    options.data_id = static_cast<std::uint32_t>(data_id);
}

// --from and --to: local times or dates, the first before the second, for
// --plot only.
void CheckPlotWindow(const po::variables_map& given, const BenchOptions& options) {
    const bool from_given = given.count("from") != 0;
    const bool to_given = given.count("to") != 0;
    if (!from_given && !to_given)
        return;
    if (options.plot_path.empty())
        UsageError("--from and --to choose the stretch of time --plot draws");
    const auto check = [](const std::string& text, const char* option,
                          std::optional<double> (*parse)(const std::string&)) {
        const std::optional<double> seconds = parse(text);
        if (!seconds)
            UsageError(std::string("--") + option +
                       " needs a local time such as \"2026-12-08 20:00\" or a date such as "
                       "2026-12-08, not '" + text + "'");
        return *seconds;
    };
    const double from = from_given ? check(options.plot_from, "from", HistoryPlot::WindowStart) : 0.0;
    const double until = to_given ? check(options.plot_to, "to", HistoryPlot::WindowUntil) : 0.0;
    if (from_given && to_given && from >= until)
        UsageError("--from must come before --to, not '" + options.plot_from + "' and '" +
                   options.plot_to + "'");
}

// The line's framing; a speed the port cannot take is the port's to refuse.
void CheckLine(const po::variables_map& given, BenchOptions& options, const RawOptions& raw) {
    if (given.count("baud") != 0) {
        if (raw.baud < BenchOptions::kLowestBaud || raw.baud > BenchOptions::kHighestBaud)
            UsageError("--baud must be from " +
                       Range(BenchOptions::kLowestBaud, BenchOptions::kHighestBaud) + ", not " +
                       std::to_string(raw.baud));
        options.baud = static_cast<int>(raw.baud);
    }
    if (given.count("parity") != 0) {
        options.parity = ParityNamed(raw.parity);
        if (!options.parity)
            UsageError("--parity must be none, even or odd, not '" + raw.parity + "'");
    }
    if (given.count("stop-bits") != 0) {
        if (raw.stop_bits != 1 && raw.stop_bits != 2)
            UsageError("--stop-bits must be 1 or 2, not " + std::to_string(raw.stop_bits));
        options.stop_bits = raw.stop_bits;
    }
}

}  // namespace

BenchOptions BenchOptions::Parse(int argc, const char* const* argv,
                                 const std::string& default_plugin,
                                 const std::string& default_settings) {
    BenchOptions options;
    options.plugin_path = default_plugin;
    RawOptions raw;

    CommissionWords words;
    po::variables_map given;
    try {
        po::options_description described = Describe(options, raw);
        described.add(DescribeCommissioning(options, words));
        const po::parsed_options parsed =
            po::command_line_parser(argc, argv).options(described).run();
        RefuseStrayWords(parsed);
        po::store(parsed, given);
        po::notify(given);
    } catch (const po::error& failure) {
        UsageError(failure.what());
    }

    RefuseEmptyPaths(given, options);
    if (options.settings_paths.empty())
        options.settings_paths.push_back(default_settings);
    options.rounds = NotNegative(raw.rounds, "rounds");
    if (given.count("rounds") != 0 && options.rounds == 0)
        UsageError("--rounds must be at least 1 (leave it out to poll until Ctrl-C)");
    options.timeout_ms = NotNegative(raw.timeout_ms, "timeout");
    options.late_limit_ms = NotNegative(raw.late_limit_ms, "late-limit");
    options.simulator_late_ms = NotNegative(raw.late_ms, "sim-late");
    if (raw.copy_gap < 0 || raw.copy_gap > kMostFollowingGapCharacters)
        UsageError("--sim-copy-gap must be from 0 to " +
                   std::to_string(kMostFollowingGapCharacters) +
                   " characters");
    options.simulator_copy_gap = static_cast<int>(raw.copy_gap);
    options.check_checksum = !raw.no_checksum;
    // A soak run goes on through a cable knock; a counted run says so at once.
    if (raw.unplug.empty())
        options.wait_on_unplug = options.rounds == 0;
    else if (raw.unplug == "wait" || raw.unplug == "end")
        options.wait_on_unplug = raw.unplug == "wait";
    else
        UsageError("--unplug must be wait or end, not '" + raw.unplug + "'");
    if (given.count("timeout") != 0 && (options.timeout_ms == 0 || options.timeout_ms > kLongestWaitMs))
        UsageError("--timeout must be from 1 to " + kLongestWait + " ms");
    if (given.count("late-limit") != 0 &&
        (options.late_limit_ms == 0 || options.late_limit_ms > kLongestWaitMs))
        UsageError("--late-limit must be from 1 to " + kLongestWait + " ms");
    if (options.simulator_late_ms > kLongestWaitMs)
        UsageError("--sim-late must be from 0 to " + kLongestWait + " ms");
    if (!(options.interval_seconds >= 0.0) || options.interval_seconds > kLongestIntervalSeconds)
        UsageError("--interval must be from " +
                   Range(0, static_cast<long long>(kLongestIntervalSeconds)) + " seconds");
    if (options.dump && options.csv)
        UsageError("--dump and --csv cannot be given together");
    CheckPlot(given, options, raw.data_id);
    CheckPlotWindow(given, options);
    CheckLine(given, options, raw);
    CheckCommissioning(given, options, words);
    if (!options.port.empty() &&
        (!raw.faults.empty() || given.count("sim-late") != 0 ||
         given.count("sim-copy-gap") != 0 || options.simulator_echo || !raw.line_faults.empty()))
        UsageError("--sim-fault, --sim-late, --sim-copy-gap, --sim-line and --sim-echo apply to "
                   "the simulated line, not to --port");
    for (const std::string& fault : raw.faults) {
        try {
            options.simulator_faults.Add(fault);
        } catch (const std::invalid_argument& failure) {
            UsageError(std::string("--sim-fault: ") + failure.what());
        }
    }
    for (const std::string& fault : raw.line_faults) {
        try {
            options.simulator_line.Add(fault);
        } catch (const std::invalid_argument& failure) {
            UsageError(std::string("--sim-line: ") + failure.what());
        }
    }
    return options;
}

std::string BenchOptions::Help(const std::string& default_plugin,
                               const std::string& default_settings) {
    BenchOptions options;
    RawOptions raw;
    CommissionWords words;
    std::ostringstream text;
    text << "Usage: bench_host [options]\n"
            "Loads the meter plug-in, configures one meter for each settings file and polls\n"
            "them in turn round by round on one line, keeping their history in SQLite.\n\n"
         << Describe(options, raw) << "\n"
         << DescribeCommissioning(options, words) << "\n"
         << "Defaults: --plugin " << default_plugin << "\n"
         << "          --settings " << default_settings << "\n"
         << "          --history " << options.history_path << "\n"
         << "Exit status: " << Status(ExitCode::kOk) << " done or stopped, "
         << Status(ExitCode::kFailure) << " other failure, " << Status(ExitCode::kUsage)
         << " bad option, " << Status(ExitCode::kSettings) << " settings,\n             "
         << Status(ExitCode::kPlugin) << " plug-in, " << Status(ExitCode::kPort)
         << " serial port, " << Status(ExitCode::kHistory) << " history file,\n             "
         << Status(ExitCode::kPlot) << " plot (gnuplot missing or failing, image not written),\n"
         << "             " << Status(ExitCode::kLine)
         << " two meters with one station or data id,\n"
         << "             " << Status(ExitCode::kNothingRead)
         << " no exchange completed: every one the run ended was lost.\n";
    return text.str();
}

unsigned long BenchOptions::DefaultLateLimitMs(unsigned long timeout_ms) {
    return std::min(kLateLimitTimeouts * timeout_ms, kLongestWaitMs);
}

LineSettings BenchOptions::LineFrom(LineSettings driver_line) const {
    if (baud)
        driver_line.baud = *baud;
    if (parity)
        driver_line.parity = *parity;
    if (stop_bits)
        driver_line.stop_bits = *stop_bits;
    return driver_line;
}

bool BenchOptions::ResolveTimes(const LineSettings& line,
                                std::chrono::milliseconds network_allowance) {
    const bool timeout_resolved = timeout_ms == 0;
    if (timeout_resolved)
        timeout_ms =
            static_cast<unsigned long>((line.DefaultAnswerTimeout() + network_allowance).count());
    if (late_limit_ms == 0)
        late_limit_ms = DefaultLateLimitMs(timeout_ms);
    return timeout_resolved;
}
