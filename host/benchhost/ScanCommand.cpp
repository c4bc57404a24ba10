// The scan: every station asked at every framing with the plug-in's own
// request, the ones that answered said, and settings written for them.
#include "Banner.h"
#include "BenchError.h"
#include "Commands.h"
#include "DeviceSettings.h"
#include "GatewayAddress.h"
#include "LineChoices.h"
#include "LineScan.h"
#include "LineStart.h"
#include "MeterSetup.h"
#include "PluginLibrary.h"
#include "PluginTraceCapture.h"
#include "SMDSPDevice.h"
#include "ScanProbe.h"
#include "ScanSettings.h"
#include "SerialLine.h"
#include "StationAddress.h"

#include <boost/asio/io_context.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

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

}  // namespace

int RunScan(const BenchOptions& options) {
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
