// The bench host: loads the meter plug-in the way the controller does,
// configures one meter and polls it over a serial line (or the built-in
// simulated meter), printing a table round by round and keeping the device
// history in SQLite.
#include "BenchError.h"
#include "BenchHost.h"
#include "BenchOptions.h"
#include "DataIdChoice.h"
#include "DeviceSettings.h"
#include "FrameworkProbe.h"
#include "Gnuplot.h"
#include "HistoryPlot.h"
#include "HistoryReport.h"
#include "HistoryStore.h"
#include "PluginLibrary.h"
#include "PluginTraceCapture.h"
#include "SMDSPDevice.h"
#include "SPModbus.h"
#include "SerialLine.h"
#include "SimulatedMeter.h"

#include <boost/asio/io_context.hpp>

#include <iostream>
#include <memory>
#include <ostream>
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

std::unique_ptr<SimulatedMeter> StartSimulator(const BenchOptions& options, SMDSPDevice& meter) {
    SimulatedMeterOptions simulated;
    if (const auto* modbus = dynamic_cast<const SPModbus*>(&meter))
        simulated.station = modbus->station_address_;
    simulated.line.baud = meter.baud_rate_ > 0 ? meter.baud_rate_ : simulated.line.baud;
    simulated.faults = options.simulator_faults;
    simulated.late_delay = std::chrono::milliseconds(options.simulator_late_ms);
    try {
        auto simulator = std::make_unique<SimulatedMeter>(simulated);
        simulator->Start();
        return simulator;
    } catch (const std::system_error& failure) {
        throw BenchError(ExitCode::kPort,
                         std::string("cannot start the simulated meter: ") + failure.what());
    }
}

void WriteBanner(std::ostream& out, const BenchOptions& options, const PluginLibrary& plugin,
                 const SMDSPDevice& meter, const SerialLine& line, bool simulated) {
    out << "bench host: " << meter.DeviceType() << " meter from " << plugin.Path()
        << ", data id " << meter.DataId() << '\n';
    out << "line: " << (simulated ? "simulated meter on " : "") << line.Path() << " at "
        << line.Baud() << " baud 8N1; a round every " << options.interval_seconds << " s, ";
    if (options.rounds != 0)
        out << options.rounds << " rounds";
    else
        out << "until Ctrl-C";
    out << ", answer timeout " << options.timeout_ms << " ms\n";
    out << "history: " << options.history_path << std::endl;
}

int Poll(const BenchOptions& options) {
    FrameworkProbe::Instance().recording = false;
    const DeviceSettings settings = DeviceSettings::Load(options.settings_path);

    PluginTraceCapture trace;
    std::ostream out(trace.Original());
    PluginLibrary plugin(options.plugin_path);
    const std::unique_ptr<SMDSPDevice> meter = plugin.CreateMeter();
    Configure(*meter, settings, options.settings_path);

    const std::unique_ptr<SimulatedMeter> simulator =
        options.port.empty() ? StartSimulator(options, *meter) : nullptr;
    boost::asio::io_context io;
    SerialLine line(io);
    LineSettings line_settings;
    line_settings.baud = meter->baud_rate_;
    line.Open(simulator ? simulator->PortPath() : options.port, line_settings);
    HistoryStore history(options.history_path, HistoryStore::Access::kReadWrite);

    WriteBanner(out, options, plugin, *meter, line, simulator != nullptr);
    BenchHost host(io, line, *meter, history, trace, out, options);
    host.Run();
    return 0;
}

int PrintHistory(const BenchOptions& options) {
    HistoryStore history(options.history_path, HistoryStore::Access::kReadOnly);
    const std::vector<HistoryRow> rows = history.All();
    if (options.csv) {
        HistoryReport::WriteCsv(std::cout, rows);
    } else if (rows.empty()) {
        std::cout << options.history_path << " holds no records\n";
    } else {
        HistoryReport::WriteText(std::cout, rows);
    }
    std::cout.flush();
    return 0;
}

int DrawPlot(const BenchOptions& options) {
    HistoryStore history(options.history_path, HistoryStore::Access::kReadOnly);
    const std::vector<HistoryRow> rows = history.All();
    const std::uint32_t data_id = DataIdChoice::Choose(rows, options.data_id, options.history_path);
    const HistoryPlot plot(data_id, rows);
    if (plot.RecordCount() == 0)
        throw BenchError(ExitCode::kHistory, "history file " + options.history_path +
                                                 " holds no readable meter records of data id " +
                                                 std::to_string(data_id));
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
