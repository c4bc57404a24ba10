#include "BenchOptions.h"

#include "BenchError.h"
#include "HistoryPlot.h"

#include <boost/program_options.hpp>

#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace po = boost::program_options;

namespace {

// What the command line gives as text or signed numbers, checked after.
struct RawOptions {
    std::vector<std::string> faults;
    long long rounds = 0;
    long long timeout_ms = 0;
    long long late_limit_ms = 0;
    long long late_ms = 800;
    long long data_id = 0;
    long long baud = 0;
    std::string parity;
    int stop_bits = 0;
    bool no_checksum = false;
};

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
         "line speed (default: the driver's, 9600)")
        ("parity", po::value(&raw.parity)->value_name("none|even|odd"),
         "parity bit (default none, from the driver's serial parameter)")
        ("stop-bits", po::value(&raw.stop_bits)->value_name("1|2"), "stop bits (default 1)")
        ("echo", po::bool_switch(&options.echo),
         "the adapter echoes every byte sent: check and drop the echo of each request")
        ("no-checksum", po::bool_switch(&raw.no_checksum),
         "hand answers to the driver without checking their checksum, as the controller's "
         "framework may: an answer damaged on the line is then decoded as a reading")
        ("history", po::value(&options.history_path)->value_name("FILE"),
         "SQLite file for the device history")
        ("stats-json", po::value(&options.stats_json_path)->value_name("FILE"),
         "also write the run's statistics to FILE as JSON, when the run ends")
        ("interval", po::value(&options.interval_seconds)->value_name("SECONDS"),
         "time from one poll to the next (default 1)")
        ("rounds", po::value(&raw.rounds)->value_name("N"),
         "stop after N rounds, N at least 1 (default: poll until Ctrl-C)")
        ("timeout", po::value(&raw.timeout_ms)->value_name("MS"),
         "how long to wait for an answer, in ms (default 480 characters of the line: "
         "500 at 9600 baud 8N1)")
        ("late-limit", po::value(&raw.late_limit_ms)->value_name("MS"),
         "how long after its request a meter's answer may still come, in ms: after a "
         "request without any answer nothing is sent until then, and an answer that "
         "comes by then is dropped, not taken for the next request's (default: 4 answer "
         "timeouts, at most 60000)")
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
         "the data id --plot draws (default: the only one in the history) or --dump and "
         "--csv show (default: all)")
        ("sim-fault", po::value(&raw.faults)->value_name("KIND@[S:]N[,N...]"),
         ("simulated line: put a fault into the answer to station S's request N (without S: "
          "the first meter's), one fault per request; KIND is one of " +
          FaultPlan::KindList()).c_str())
        ("sim-late", po::value(&raw.late_ms)->value_name("MS"),
         "simulated line: how late a late answer comes, in ms (default 800)")
        ("sim-echo", po::bool_switch(&options.simulator_echo),
         "simulated line: echo every byte the host sends, as many adapters do");
    return described;
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
    if (data_id < 0 || data_id > 0xFFFFFFFFLL)
        UsageError("--data-id must be from 0 to 4294967295");
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
        if (raw.baud < 1 || raw.baud > 4000000)
            UsageError("--baud must be from 1 to 4000000, not " + std::to_string(raw.baud));
        options.baud = static_cast<int>(raw.baud);
    }
    if (given.count("parity") != 0) {
        if (raw.parity == "none")
            options.parity = Parity::kNone;
        else if (raw.parity == "even")
            options.parity = Parity::kEven;
        else if (raw.parity == "odd")
            options.parity = Parity::kOdd;
        else
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

    po::variables_map given;
    try {
        const po::options_description described = Describe(options, raw);
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
    options.check_checksum = !raw.no_checksum;
    if (given.count("timeout") != 0 && (options.timeout_ms == 0 || options.timeout_ms > kLongestWaitMs))
        UsageError("--timeout must be from 1 to 60000 ms");
    if (given.count("late-limit") != 0 &&
        (options.late_limit_ms == 0 || options.late_limit_ms > kLongestWaitMs))
        UsageError("--late-limit must be from 1 to 60000 ms");
    if (options.simulator_late_ms > kLongestWaitMs)
        UsageError("--sim-late must be from 0 to 60000 ms");
    if (!(options.interval_seconds >= 0.0) || options.interval_seconds > 86400.0)
        UsageError("--interval must be from 0 to 86400 seconds");
    if (options.dump && options.csv)
        UsageError("--dump and --csv cannot be given together");
    CheckPlot(given, options, raw.data_id);
    CheckPlotWindow(given, options);
    CheckLine(given, options, raw);
    if (!options.port.empty() &&
        (!raw.faults.empty() || given.count("sim-late") != 0 || options.simulator_echo))
        UsageError("--sim-fault, --sim-late and --sim-echo apply to the simulated line, not to "
                   "--port");
    for (const std::string& fault : raw.faults) {
        try {
            options.simulator_faults.Add(fault);
        } catch (const std::invalid_argument& failure) {
            UsageError(std::string("--sim-fault: ") + failure.what());
        }
    }
    return options;
}

std::string BenchOptions::Help(const std::string& default_plugin,
                               const std::string& default_settings) {
    BenchOptions options;
    RawOptions raw;
    std::ostringstream text;
    text << "Usage: bench_host [options]\n"
            "Loads the meter plug-in, configures one meter for each settings file and polls\n"
            "them in turn round by round on one line, keeping their history in SQLite.\n\n"
         << Describe(options, raw) << "\n"
         << "Defaults: --plugin " << default_plugin << "\n"
         << "          --settings " << default_settings << "\n"
         << "          --history " << options.history_path << "\n"
         << "Exit status: 0 done, 2 bad option, 3 settings, 4 plug-in, 5 serial port, "
            "6 history file,\n"
            "             7 plot (gnuplot missing or failing, image not written),\n"
            "             8 two meters with one station or data id.\n";
    return text.str();
}
