// The bench host: loads the meter plug-in the way the controller does,
// configures one meter per settings file and polls them in turn over one
// serial line (or the built-in simulated line), printing a table round by
// round and keeping the devices' history in SQLite.
#include "Banner.h"
#include "BenchError.h"
#include "BenchHost.h"
#include "BenchOptions.h"
#include "DeviceSettings.h"
#include "GatewayAddress.h"
#include "HistoryCommands.h"
#include "HistoryStore.h"
#include "LineChoices.h"
#include "LineScan.h"
#include "PluginLibrary.h"
#include "PluginTraceCapture.h"
#include "SMDSPDevice.h"
#include "MeterLineup.h"
#include "MeterSetup.h"
#include "OutputFile.h"
#include "SerialDeviceSettings.h"
#include "SerialLine.h"
#include "ScanProbe.h"
#include "ScanSettings.h"
#include "SimulatedMeter.h"
#include "StationAddress.h"
#include "StatisticsJson.h"
#include "StopRequested.h"
#include "StopSignals.h"

#include <boost/asio/io_context.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <system_error>

namespace {

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
    simulated.following_gap_characters = options.simulator_copy_gap;
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

// A gateway's answers come a network round trip later: whole ms, rounded up.
std::chrono::milliseconds NetworkAllowance(const SerialLine& line) {
    const std::chrono::microseconds trip = line.NetworkRoundTrip();
    return std::chrono::milliseconds((trip.count() + 999) / 1000);
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
    MeterLineup meters = ConfigureMeters(given.settings_paths, plugin);

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
    MeterLineup meters = ConfigureMeters(options.settings_paths, plugin);
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
        // An export takes a stop between rows; a plot ends at once.
        if (!options.plot_path.empty())
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
