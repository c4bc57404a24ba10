// The bench host: loads the meter plug-in the way the controller does,
// configures one meter per settings file and polls them in turn over one
// serial line (or the built-in simulated line), printing a table round by
// round and keeping the devices' history in SQLite.
#include "BenchError.h"
#include "BenchHost.h"
#include "BenchOptions.h"
#include "DataIdChoice.h"
#include "DeviceSettings.h"
#include "FrameworkProbe.h"
#include "Gnuplot.h"
#include "HistoryExport.h"
#include "HistoryPlot.h"
#include "HistoryStore.h"
#include "PluginLibrary.h"
#include "PluginTraceCapture.h"
#include "SMDSPDevice.h"
#include "MeterLineup.h"
#include "SerialDeviceSettings.h"
#include "SerialLine.h"
#include "SimulatedMeter.h"
#include "StationList.h"
#include "StatisticsJson.h"

#include <boost/asio/io_context.hpp>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <memory>
#include <ostream>
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
    LineSettings line = SerialDeviceSettings::LineFor(first.baud_rate_, first.serial_param_);
    if (options.baud)
        line.baud = *options.baud;
    if (options.parity)
        line.parity = *options.parity;
    if (options.stop_bits)
        line.stop_bits = *options.stop_bits;
    return line;
}

std::unique_ptr<SimulatedMeter> StartSimulator(const BenchOptions& options,
                                               const MeterLineup& meters,
                                               const LineSettings& line) {
    SimulatedMeterOptions simulated;
    simulated.stations.clear();
    for (const MeterLineup::Meter& meter : meters.Meters())
        simulated.stations.push_back(meter.station);
    simulated.line = line;
    simulated.faults = options.simulator_faults;
    simulated.late_delay = std::chrono::milliseconds(options.simulator_late_ms);
    simulated.echo = options.simulator_echo;
    try {
        auto simulator = std::make_unique<SimulatedMeter>(simulated);
        simulator->Start();
        return simulator;
    } catch (const std::system_error& failure) {
        throw BenchError(ExitCode::kPort,
                         std::string("cannot start the simulated meter: ") + failure.what());
    }
}

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
                 const MeterLineup& meters, const SerialLine& line, bool simulated) {
    WriteMeters(out, plugin, meters);
    out << "line: ";
    if (simulated && meters.Size() == 1)
        out << "simulated meter on ";
    else if (simulated)
        out << "simulated line of " << meters.Size() << " meters on ";
    out << line.Path() << " at "
        << line.Baud() << " baud " << line.Settings().Framing()
        << (options.echo ? ", echo checked" : "") << (options.simulator_echo ? ", echoing" : "")
        << (options.check_checksum ? "" : ", checksums not checked")
        << "; a round every " << options.interval_seconds << " s, ";
    if (options.rounds != 0)
        out << options.rounds << " rounds";
    else
        out << "until Ctrl-C";
    out << ", answer timeout " << options.timeout_ms << " ms, late limit " << options.late_limit_ms
        << " ms\n";
    out << "history: " << options.history_path << std::endl;
}

int Poll(const BenchOptions& given) {
    BenchHost::HoldStopSignals();
    FrameworkProbe::Instance().recording = false;
    PluginTraceCapture trace;
    std::ostream out(trace.Original());
    PluginLibrary plugin(given.plugin_path);
    MeterLineup meters = ConfigureMeters(given, plugin);

    const LineSettings line_settings = ChooseLine(given, *meters.At(0).device);
    BenchOptions options = given;
    if (options.timeout_ms == 0)
        options.timeout_ms =
            static_cast<unsigned long>(line_settings.DefaultAnswerTimeout().count());
    if (options.late_limit_ms == 0)
        options.late_limit_ms = std::min(BenchOptions::kLateLimitTimeouts * options.timeout_ms,
                                         BenchOptions::kLongestWaitMs);

    const std::unique_ptr<SimulatedMeter> simulator =
        options.port.empty() ? StartSimulator(options, meters, line_settings) : nullptr;
    boost::asio::io_context io;
    SerialLine line(io);
    line.Open(simulator ? simulator->PortPath() : options.port, line_settings);
    HistoryStore history(options.history_path, HistoryStore::Access::kReadWrite);
    if (!options.stats_json_path.empty())
        CheckStatisticsJsonPath(options.stats_json_path);

    WriteBanner(out, options, plugin, meters, line, simulator != nullptr);
    BenchHost host(io, line, meters, history, trace, out, options);
    host.Run();
    return 0;
}

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
    return 0;
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
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const BenchOptions options =
            BenchOptions::Parse(argc, argv, BENCH_DEFAULT_PLUGIN, BENCH_DEFAULT_SETTINGS);
        if (options.help) {
            std::cout << BenchOptions::Help(BENCH_DEFAULT_PLUGIN, BENCH_DEFAULT_SETTINGS);
            return 0;
        }
        if (options.dump || options.csv)
            return PrintHistory(options);
        if (!options.plot_path.empty())
            return DrawPlot(options);
        return Poll(options);
    } catch (const BenchError& failure) {
        std::cerr << "bench_host: " << failure.what() << std::endl;
        return static_cast<int>(failure.Code());
    } catch (const std::exception& failure) {
        std::cerr << "bench_host: " << failure.what() << std::endl;
        return static_cast<int>(ExitCode::kFailure);
    }
}
