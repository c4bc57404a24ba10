// Polling: the plug-in loaded, its meters configured, the line opened and
// the round loop run until its rounds are done or a stop comes.
#include "Banner.h"
#include "BenchError.h"
#include "BenchHost.h"
#include "Commands.h"
#include "HistoryCommands.h"
#include "HistoryStore.h"
#include "LineStart.h"
#include "MeterSetup.h"
#include "OutputFile.h"
#include "PluginLibrary.h"
#include "PluginTraceCapture.h"
#include "SMDSPDevice.h"
#include "SerialLine.h"
#include "StatisticsJson.h"
#include "StopSignals.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <iostream>
#include <memory>
#include <ostream>

namespace {

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

// The round loop's part of the options, their defaults resolved.
RoundLoopSettings RoundLoopOf(const BenchOptions& options) {
    RoundLoopSettings loop;
    loop.rounds = options.rounds;
    loop.interval_seconds = options.interval_seconds;
    loop.timeout_ms = options.timeout_ms;
    loop.late_limit_ms = options.late_limit_ms;
    loop.echo = options.echo;
    loop.check_checksum = options.check_checksum;
    loop.wait_on_unplug = options.wait_on_unplug;
    loop.verbose = options.verbose;
    loop.stats_json_path = options.stats_json_path;
    return loop;
}

}  // namespace

int RunPoll(const BenchOptions& given) {
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
    BenchHost host(io, line, meters, history, trace, out, RoundLoopOf(options));
    try {
        host.Run();
    } catch (...) {
        WriteLinkNotes(out, line);
        throw;
    }
    WriteLinkNotes(out, line);
    return RunStatus(host);
}
