// The bench host: loads the meter plug-in the way the controller does,
// configures one meter per settings file and polls them in turn over one
// serial line (or the built-in simulated line), printing a table round by
// round and keeping the devices' history in SQLite.
#include "BenchError.h"
#include "BenchHost.h"
#include "BenchOptions.h"
#include "DataIdChoice.h"
#include "DeviceSettings.h"
#include "Gnuplot.h"
#include "HistoryExport.h"
#include "HistoryPlot.h"
#include "HistoryReport.h"
#include "GatewayAddress.h"
#include "HistoryStore.h"
#include "LineChoices.h"
#include "LineScan.h"
#include "PluginLibrary.h"
#include "PluginTraceCapture.h"
#include "SMDSPDevice.h"
#include "MeterLineup.h"
#include "OutputFile.h"
#include "SerialDeviceSettings.h"
#include "SerialLine.h"
#include "ScanProbe.h"
#include "ScanSettings.h"
#include "SimulatedMeter.h"
#include "StationAddress.h"
#include "StationList.h"
#include "StatisticsJson.h"
#include "StopRequested.h"
#include "StopSignals.h"

#include <boost/asio/io_context.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <csignal>
#include <set>
#include <system_error>

namespace {

// The framework's own initialisation, then the device's settings.
void Configure(SMDSPDevice& meter, const DeviceSettings& settings, const std::string& path) {
    int result = 0;
    try {
        meter.Init(std::weak_ptr<SMDController>(), settings.DataId(), settings.Tree());
        result = meter.InitSetting(settings.Tree());
    } catch (const std::exception& failure) {
        throw BenchError(ExitCode::kSettings,
                         "settings file " + path + ": the meter refused them: " + failure.what());
    }
    if (result != 1)
        throw BenchError(ExitCode::kSettings, "settings file " + path +
                                                  ": the meter's InitSetting returned " +
                                                  std::to_string(result));
}

// One driver object from the provider per settings file, each configured
// as the controller configures a meter.
MeterLineup ConfigureMeters(const BenchOptions& options, const PluginLibrary& plugin) {
    std::vector<DeviceSettings> settings;
    for (const std::string& path : options.settings_paths)
        settings.push_back(DeviceSettings::Load(path));
    MeterLineup meters;
    for (std::size_t i = 0; i < settings.size(); ++i) {
        std::unique_ptr<SMDSPDevice> meter = plugin.CreateMeter();
        Configure(*meter, settings[i], options.settings_paths[i]);
        meters.Add(std::move(meter), options.settings_paths[i]);
    }
    return meters;
}

// The line as the framework reads the first meter's settings, changed by
// the options; the answer timeout follows it unless given.
LineSettings ChooseLine(const BenchOptions& options, const SMDSPDevice& first) {
    return options.LineFrom(SerialDeviceSettings::LineFor(first.baud_rate_, first.serial_param_));
}

std::unique_ptr<SimulatedMeter> StartSimulator(const BenchOptions& options,
                                               const MeterLineup& meters,
                                               const LineSettings& line) {
    SimulatedMeterOptions simulated;
    simulated.stations.clear();
    for (const MeterLineup::Meter& meter : meters.Meters())
        simulated.stations.push_back(meter.station);
    simulated.line = line;
    // Meters put where the host has to find them (a scan).
    if (!options.simulator_stations.empty())
        simulated.stations = options.simulator_stations;
    if (options.simulator_framing)
        simulated.line = *options.simulator_framing;
    simulated.faults = options.simulator_faults;
    // Only here is the first meter's station known, which the faults named
    // without a station belong to.
    try {
        simulated.faults.SetDefaultStation(simulated.stations.front());
    } catch (const std::invalid_argument& failure) {
        throw BenchError(ExitCode::kUsage,
                         std::string("--sim-fault: ") + failure.what() + " (see --help)");
    }
    simulated.late_delay = std::chrono::milliseconds(options.simulator_late_ms);
    simulated.echo = options.simulator_echo;
    simulated.line_faults = options.simulator_line;
    try {
        auto simulator = std::make_unique<SimulatedMeter>(simulated);
        simulator->Start();
        return simulator;
    } catch (const std::system_error& failure) {
        throw BenchError(ExitCode::kPort,
                         std::string("cannot start the simulated meter: ") + failure.what());
    }
}

// --- the line's link: its names, the network, the adapter ---

// A serial port by its stable name where it has one.
std::string LineLabel(const SerialLine& line) {
    if (line.IsGateway())
        return line.Name();
    return line.Identity().Path().empty() ? line.Path() : line.Identity().Label();
}

// A gateway's answers come a network round trip later: whole ms, rounded up.
std::chrono::milliseconds NetworkAllowance(const SerialLine& line) {
    const std::chrono::microseconds trip = line.NetworkRoundTrip();
    return std::chrono::milliseconds((trip.count() + 999) / 1000);
}

std::string Milliseconds(std::chrono::microseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// What the link adds to the line, one line of the banner; nothing when
// nothing is added.
void WriteLinkBanner(std::ostream& out, const SerialLine& line) {
    std::vector<std::string> parts;
    if (line.IsGateway())
        parts.push_back("RTU frames over TCP, the gateway's serial side framed at the gateway; "
                        "network round trip " +
                        Milliseconds(line.NetworkRoundTrip()) + " at connect");
    const LinkOptions& link = line.Link();
    if (link.rs485)
        parts.push_back("RS-485 mode, RTS delays " + std::to_string(link.rs485->delay_before_ms) +
                        " ms before and " + std::to_string(link.rs485->delay_after_ms) +
                        " ms after sending");
    if (line.LowLatency())
        parts.push_back("low-latency mode");
    if (!line.Identity().LatencyNote().empty())
        parts.push_back(line.Identity().LatencyNote());
    if (link.open_pause.count() != 0)
        parts.push_back("open pause " + std::to_string(link.open_pause.count()) + " ms");
    if (link.request_gap.count() != 0)
        parts.push_back("request gap " + std::to_string(link.request_gap.count()) + " ms");
    if (parts.empty())
        return;
    out << "link:";
    for (std::size_t i = 0; i < parts.size(); ++i)
        out << (i == 0 ? " " : ", ") << parts[i];
    out << '\n';
    if (!line.Identity().LatencyHint().empty())
        out << line.Identity().LatencyHint() << '\n';
}

// After the statistics: the adapter's latency timer, which every response
// time above carries.
void WriteLinkNotes(std::ostream& out, const SerialLine& line) {
    if (line.Identity().LatencyNote().empty())
        return;
    out << line.Identity().LatencyNote() << " (" << line.Identity().KernelName()
        << "): every response time above includes up to that much\n";
    if (!line.Identity().LatencyHint().empty())
        out << line.Identity().LatencyHint() << '\n';
    out.flush();
}

// --- end of the line's link ---

// A long line-up wraps rather than running on in one line.
constexpr std::size_t kBannerWidth = 100;

void WriteMeters(std::ostream& out, const PluginLibrary& plugin, const MeterLineup& meters) {
    const SMDSPDevice& first = *meters.At(0).device;
    if (meters.Size() == 1) {
        out << "bench host: " << first.DeviceType() << " meter from " << plugin.Path()
            << ", data id " << first.DataId() << '\n';
        return;
    }
    std::vector<MeterKey> keys;
    for (const MeterLineup::Meter& meter : meters.Meters())
        keys.push_back(MeterKey{meter.station, meter.data_id});
    out << WrappedList("bench host: " + std::to_string(meters.Size()) + ' ' + first.DeviceType() +
                           " meters from " + plugin.Path() + ':',
                       StationListItems(keys), kBannerWidth)
        << '\n';
}

void WriteBanner(std::ostream& out, const BenchOptions& options, const PluginLibrary& plugin,
                 const MeterLineup& meters, const SerialLine& line, bool simulated,
                 bool network_added) {
    WriteMeters(out, plugin, meters);
    out << "line: ";
    const std::size_t simulated_meters = options.simulator_stations.empty()
                                             ? meters.Size()
                                             : options.simulator_stations.size();
    if (simulated && simulated_meters == 1)
        out << "simulated meter on ";
    else if (simulated)
        out << "simulated line of " << simulated_meters << " meters on ";
    out << LineLabel(line) << " at "
        << line.Baud() << " baud " << line.Settings().Framing()
        << (options.echo ? ", echo checked" : "") << (options.simulator_echo ? ", echoing" : "")
        << (options.check_checksum ? "" : ", checksums not checked");
    if (simulated)
        for (const std::string& fault : options.simulator_line.Texts())
            out << ", line fault " << fault;
    if (simulated && !options.simulator_stations.empty())
        out << ", meters at stations " << LineChoices::StationsText(options.simulator_stations);
    if (simulated && options.simulator_framing)
        out << ", meters framed " << LineChoices::FramingText(*options.simulator_framing);
    out
        << "; a round every " << options.interval_seconds << " s, ";
    if (options.rounds != 0)
        out << options.rounds << " rounds";
    else
        out << "until Ctrl-C";
    out << ", answer timeout " << options.timeout_ms << " ms"
        << (line.IsGateway() && network_added ? " (with the network's round trip)" : "")
        << ", late limit " << options.late_limit_ms << " ms\n";
    WriteLinkBanner(out, line);
    out << "history: " << options.history_path << std::endl;
}

// The files a run reads or keeps, which no output of it may replace.
std::vector<OutputFile::Kept> KeptFiles(const BenchOptions& options) {
    std::vector<OutputFile::Kept> kept = {
        {"the history file", options.history_path},
        // SQLite's own files beside it, while it is open or after a crash.
        {"the history file's write-ahead journal", options.history_path + "-wal"},
        {"the history file's shared memory", options.history_path + "-shm"},
        {"the history file's rollback journal", options.history_path + "-journal"},
        {"the plug-in", options.plugin_path},
    };
    for (const std::string& path : options.settings_paths)
        kept.push_back({"the settings file", path});
    if (!options.port.empty())
        kept.push_back({"the serial port", options.port});
    return kept;
}

// A run that lost every exchange it ended read nothing from the line: a
// status of its own tells a script so.
int RunStatus(const BenchHost& host) {
    if (host.Completed() != 0 || host.Lost() == 0)
        return static_cast<int>(ExitCode::kOk);
    std::cerr << "bench_host: no exchange completed: all " << host.Lost() << " were lost"
              << std::endl;
    return static_cast<int>(ExitCode::kNothingRead);
}

int Poll(const BenchOptions& given) {
    if (!given.stats_json_path.empty()) {
        OutputFile::Check("--stats-json", given.stats_json_path, KeptFiles(given),
                          StatisticsJsonKind());
        CheckStatisticsJsonPath(given.stats_json_path);
    }
    PluginTraceCapture trace;
    std::ostream out(trace.Original());
    PluginLibrary plugin(given.plugin_path);
    MeterLineup meters = ConfigureMeters(given, plugin);

    const LineSettings line_settings = ChooseLine(given, *meters.At(0).device);
    BenchOptions options = given;

    const std::unique_ptr<SimulatedMeter> simulator =
        options.port.empty() ? StartSimulator(options, meters, line_settings) : nullptr;
    boost::asio::io_context io;
    SerialLine line(io);
    line.Open(simulator ? simulator->PortPath() : options.port, line_settings, options.link);
    const bool network_added =
        options.ResolveTimes(line_settings, NetworkAllowance(line)) && line.IsGateway();
    HistoryStore history(options.history_path, HistoryStore::Access::kReadWrite,
                         &StopSignals::Pending);

    WriteBanner(out, options, plugin, meters, line, simulator != nullptr, network_added);
    BenchHost host(io, line, meters, history, trace, out, options);
    try {
        host.Run();
    } catch (...) {
        WriteLinkNotes(out, line);
        throw;
    }
    WriteLinkNotes(out, line);
    return RunStatus(host);
}

// --- the scan: finding the line's meters ---

// The bench host's command that polls the meters a scan wrote settings
// for, one for each framing they were found at.
void WritePollCommands(std::ostream& out, const BenchOptions& options,
                       const std::vector<ScanSettings::Written>& written) {
    std::vector<std::string> framings;
    for (const ScanSettings::Written& file : written)
        if (std::find(framings.begin(), framings.end(), LineChoices::FramingText(file.line)) ==
            framings.end())
            framings.push_back(LineChoices::FramingText(file.line));
    for (const std::string& framing : framings) {
        const LineSettings line = LineChoices::ParseFraming(framing);
        out << "poll: bench_host";
        if (!options.port.empty())
            out << " --port " << options.port;
        else
            out << " --sim-framing " << framing;
        out << " --baud " << line.baud << " --parity " << ParityWord(line.parity)
            << " --stop-bits " << line.stop_bits;
        for (const ScanSettings::Written& file : written)
            if (LineChoices::FramingText(file.line) == framing)
                out << " --settings " << file.path;
        out << '\n';
    }
}

int Scan(const BenchOptions& options) {
    // The stop signals are held since main began; the scan takes them itself.
    PluginTraceCapture trace;  // the driver's own lines stay out of the report
    std::ostream out(trace.Original());
    PluginLibrary plugin(options.plugin_path);
    MeterLineup meters = ConfigureMeters(options, plugin);
    const DeviceSettings settings = DeviceSettings::Load(options.settings_paths.front());
    const LineSettings own_line = ChooseLine(options, *meters.At(0).device);

    LineScan::Plan plan;
    plan.stations = options.scan_stations;
    if (plan.stations.empty())
        for (unsigned int station = StationAddress::kLowest; station <= StationAddress::kHighest;
             ++station)
            plan.stations.push_back(static_cast<std::uint8_t>(station));
    plan.framings = options.scan_framings;
    if (plan.framings.empty())
        plan.framings = GatewayAddress::Names(options.port) ? std::vector<LineSettings>{own_line}
                                                            : LineChoices::CommonLines();
    plan.echo = options.echo;
    plan.check_checksum = options.check_checksum;
    if (options.timeout_ms != 0)
        plan.wait = std::chrono::milliseconds(options.timeout_ms);

    const std::unique_ptr<SimulatedMeter> simulator =
        options.port.empty() ? StartSimulator(options, meters, own_line) : nullptr;
    boost::asio::io_context io;
    SerialLine line(io);
    line.Open(simulator ? simulator->PortPath() : options.port, plan.framings.front(), options.link);
    out << "scan: " << (simulator ? "simulated line on " : "") << LineLabel(line) << ", stations "
        << LineChoices::StationsText(plan.stations) << " at " << plan.framings.size()
        << (plan.framings.size() == 1 ? " framing" : " framings") << ", the requests of "
        << plugin.Path() << '\n';
    WriteLinkBanner(out, line);
    out.flush();

    ScanProbe probe(*meters.At(0).device);
    LineScan scan(io, line, probe, plan, out, std::cerr, ::isatty(STDERR_FILENO) != 0);
    const LineScan::Result result = scan.Run();
    trace.TakeLines();

    out << (result.stopped ? "scan stopped: " : "scan done: ") << result.tried << " requests in "
        << std::fixed << std::setprecision(1) << std::chrono::duration<double>(result.took).count()
        << std::defaultfloat << " s; ";
    if (result.found.empty())
        out << "no station answered";
    else
        out << result.found.size() << " answered:";
    for (std::size_t i = 0; i < result.found.size(); ++i)
        out << (i == 0 ? " " : ", ") << result.found[i].Brief();
    out << '\n';
    if (!options.write_settings_dir.empty()) {
        const std::vector<ScanSettings::Written> written =
            ScanSettings::Write(options.write_settings_dir, result.found, settings.Tree());
        for (const ScanSettings::Written& file : written)
            out << "settings: " << file.path << ", station " << int{file.station} << ", data id "
                << file.data_id << '\n';
        if (written.empty())
            out << "settings: none written, no meter answered with its block\n";
        WritePollCommands(out, options, written);
    }
    out.flush();
    return static_cast<int>(ExitCode::kOk);
}

// --- end of the scan ---

// Row by row from the history to standard output; a reader that stops
// reading (`| head`) ends it quietly.
int PrintHistory(const BenchOptions& options) {
    HistoryStore history(options.history_path, HistoryStore::Access::kReadOnly);
    std::signal(SIGPIPE, SIG_IGN);
    const HistoryExport::Outcome outcome = HistoryExport::Write(
        history, options.csv ? HistoryExport::Format::kCsv : HistoryExport::Format::kText,
        options.data_id, STDOUT_FILENO);
    if (!options.csv && outcome.rows == 0 && !outcome.reader_gone) {
        std::cout << options.history_path << " holds no records";
        if (options.data_id)
            std::cout << " of data id " << *options.data_id;
        std::cout << '\n';
    }
    std::cout.flush();
    return static_cast<int>(ExitCode::kOk);
}

// " from A to B", " from A on" or " up to B", as typed.
std::string WindowText(const BenchOptions& options) {
    if (!options.plot_from.empty() && !options.plot_to.empty())
        return " from " + options.plot_from + " to " + options.plot_to;
    if (!options.plot_from.empty())
        return " from " + options.plot_from + " on";
    if (!options.plot_to.empty())
        return " up to " + options.plot_to;
    return "";
}

int DrawPlot(const BenchOptions& options) {
    static const OutputFile::Kind picture{"a PNG or SVG picture", &HistoryPlot::IsPictureFile};
    OutputFile::Check("--plot", options.plot_path, KeptFiles(options), picture);
    HistoryStore history(options.history_path, HistoryStore::Access::kReadOnly);
    const std::vector<std::uint32_t> ids = history.DataIds();
    const std::uint32_t data_id = DataIdChoice::Choose(
        std::set<std::uint32_t>(ids.begin(), ids.end()), options.data_id, options.history_path);
    HistoryPlot::Window window;
    if (!options.plot_from.empty())
        window.from = *HistoryPlot::WindowStart(options.plot_from);
    if (!options.plot_to.empty())
        window.until = *HistoryPlot::WindowUntil(options.plot_to);
    const HistoryPlot plot = HistoryPlot::FromHistory(history, data_id, window);
    if (plot.RecordCount() == 0)
        throw BenchError(ExitCode::kHistory, "history file " + options.history_path +
                                                 " holds no readable meter records of data id " +
                                                 std::to_string(data_id) + WindowText(options));
    Gnuplot().Draw(plot.Script(*HistoryPlot::FormatOf(options.plot_path)), options.plot_path);
    std::cout << "plot: " << options.plot_path << ", " << plot.Summary() << std::endl;
    return static_cast<int>(ExitCode::kOk);
}

}  // namespace

int main(int argc, char** argv) {
    StopSignals::Hold();
    try {
        const BenchOptions options =
            BenchOptions::Parse(argc, argv, BENCH_DEFAULT_PLUGIN, BENCH_DEFAULT_SETTINGS);
        if (options.help) {
            std::cout << BenchOptions::Help(BENCH_DEFAULT_PLUGIN, BENCH_DEFAULT_SETTINGS);
            return static_cast<int>(ExitCode::kOk);
        }
        if (options.version) {
            std::cout << "bench_host " << BENCH_VERSION << " (commit " << BENCH_COMMIT << ")\n";
            return static_cast<int>(ExitCode::kOk);
        }
        if (options.dump || options.csv || !options.plot_path.empty())
            StopSignals::Release();
        if (options.dump || options.csv)
            return PrintHistory(options);
        if (!options.plot_path.empty())
            return DrawPlot(options);
        if (options.scan)
            return Scan(options);
        return Poll(options);
    } catch (const StopRequested& stop) {  // during set-up, in a wait that had to end
        std::cout << "stopped: " << stop.what() << ", before the first round; nothing polled, "
                                                   "nothing stored"
                  << std::endl;
        return static_cast<int>(ExitCode::kOk);
    } catch (const BenchError& failure) {
        std::cerr << "bench_host: " << failure.what() << std::endl;
        return static_cast<int>(failure.Code());
    } catch (const std::exception& failure) {
        std::cerr << "bench_host: " << failure.what() << std::endl;
        return static_cast<int>(ExitCode::kFailure);
    }
}
