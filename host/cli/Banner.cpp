#include "Banner.h"

#include "BenchOptions.h"
#include "LineChoices.h"
#include "MeterLineup.h"
#include "PluginLibrary.h"
#include "SMDSPDevice.h"
#include "SerialLine.h"
#include "StationList.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Milliseconds(std::chrono::microseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", static_cast<double>(time.count()) / 1000.0);
    return text;
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

}  // namespace

// A serial port by its stable name where it has one.
std::string LineLabel(const SerialLine& line) {
    if (line.IsGateway())
        return line.Name();
    return line.Identity().Path().empty() ? line.Path() : line.Identity().Label();
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
