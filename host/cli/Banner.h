#pragma once

#include <ostream>
#include <string>

class MeterLineup;
class PluginLibrary;
class SerialLine;
struct BenchOptions;

// What a run says before its first round: the plug-in and its meters, the
// line and its pace, the link (a gateway, RS-485 mode, the adapter's
// latency timer), the history file. `network_added`: the answer timeout
// was worked out with the network's round trip.
void WriteBanner(std::ostream& out, const BenchOptions& options, const PluginLibrary& plugin,
                 const MeterLineup& meters, const SerialLine& line, bool simulated,
                 bool network_added);

// What the link adds to the line, one line of the banner; nothing when
// nothing is added.
void WriteLinkBanner(std::ostream& out, const SerialLine& line);

// After the statistics: the adapter's latency timer, which every response
// time above carries.
void WriteLinkNotes(std::ostream& out, const SerialLine& line);

// A serial port by its stable name where it has one; a gateway by its address.
std::string LineLabel(const SerialLine& line);
