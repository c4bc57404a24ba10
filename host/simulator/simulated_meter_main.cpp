// The simulated meter on its own: opens a pseudo-terminal, prints the
// serial device to open, and answers Read Input Registers requests there
// until SIGINT, SIGTERM or SIGHUP.
#include "BenchError.h"
#include "FaultPlan.h"
#include "LongestWait.h"
#include "SimulatedMeter.h"
#include "StationAddress.h"
#include "StopSignals.h"

#include <boost/program_options.hpp>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <stdexcept>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace po = boost::program_options;

namespace {

struct Command {
    SimulatedMeterOptions meter;
    std::string link;
    bool verbose = false;
    bool help = false;
};

// The framing the meters hear, besides the speed.
struct FramingWords {
    std::string parity = "none";
    int stop_bits = 1;
};

po::options_description Describe(Command& command, std::vector<int>& stations, long& late_ms,
                                 std::vector<std::string>& faults,
                                 std::vector<std::string>& line_faults, FramingWords& framing) {
    po::options_description described("Options");
    described.add_options()
        ("help,h", po::bool_switch(&command.help), "show this help")
        ("station", po::value(&stations)->value_name("N"),
         ("a station address on the line, " + std::to_string(StationAddress::kLowest) + ".." +
          std::to_string(StationAddress::kHighest) +
          "; repeat it for several meters (default 1)").c_str())
        ("baud", po::value(&command.meter.line.baud)->value_name("N"),
         "line speed: the pace of answers, and the only speed the meters hear (default 9600)")
        ("parity", po::value(&framing.parity)->value_name("none|even|odd"),
         "parity the meters hear; requests framed otherwise are garbage to them (default none)")
        ("stop-bits", po::value(&framing.stop_bits)->value_name("1|2"),
         "stop bits the meters hear (default 1)")
        ("fault", po::value(&faults)->value_name("KIND@[S:]N[,N...]"),
         ("put a fault into the answer to station S's request N, or with * for N into every "
          "request of S (without S: the first station's); KIND is one of " +
          FaultPlan::KindList())
             .c_str())
        ("line", po::value(&line_faults)->value_name("KIND[=N]"),
         ("a fault of the whole line, in every answer; each kind once; KIND is one of " +
          LineFaults::KindList())
             .c_str())
        ("echo", po::bool_switch(&command.meter.echo),
         "echo every byte received, as many RS-485 adapters do")
        ("late", po::value(&late_ms)->value_name("MS"),
         ("how late a late answer comes, in ms (default " +
          std::to_string(FaultPlan::kDefaultLateDelay.count()) + ")").c_str())
        ("copy-gap", po::value(&command.meter.following_gap_characters)->value_name("CHARS"),
         ("characters of silence before a twice fault's copy or a neighbour fault's answer, 0 "
          "to " +
          std::to_string(kMostFollowingGapCharacters) + " (default " +
          std::to_string(kFollowingGapCharacters) + ")")
             .c_str())
        ("link", po::value(&command.link)->value_name("PATH"),
         "also make PATH a symbolic link to the serial device")
        ("verbose,v", po::bool_switch(&command.verbose), "print every request taken");
    return described;
}

Command Parse(int argc, char** argv) {
    Command command;
    std::vector<int> stations;
    long late_ms = static_cast<long>(command.meter.late_delay.count());
    std::vector<std::string> faults;
    std::vector<std::string> line_faults;
    FramingWords framing;
    po::options_description described =
        Describe(command, stations, late_ms, faults, line_faults, framing);
    po::variables_map given;
    const po::parsed_options parsed = po::parse_command_line(argc, argv, described);
    // A stray word is most likely a mistyped option: refused, not ignored.
    const std::vector<std::string> stray =
        po::collect_unrecognized(parsed.options, po::include_positional);
    if (!stray.empty())
        throw std::invalid_argument("unexpected word '" + stray.front() +
                                    "' on the command line (options start with --)");
    po::store(parsed, given);
    po::notify(given);
    if (command.help) {
        std::cout << "Usage: simulated_meter [options]\n" << described;
        return command;
    }
    if (!stations.empty())
        command.meter.stations.clear();
    for (const int station : stations) {
        if (station < 0 || !StationAddress::Valid(static_cast<unsigned int>(station)))
            throw std::invalid_argument("--station must be from " +
                                        std::to_string(StationAddress::kLowest) + " to " +
                                        std::to_string(StationAddress::kHighest));
        command.meter.stations.push_back(static_cast<std::uint8_t>(station));
    }
    if (command.meter.line.baud < 300)
        throw std::invalid_argument("--baud must be at least 300");
    const std::optional<Parity> parity = ParityNamed(framing.parity);
    if (!parity)
        throw std::invalid_argument("--parity must be none, even or odd");
    command.meter.line.parity = *parity;
    if (framing.stop_bits != 1 && framing.stop_bits != 2)
        throw std::invalid_argument("--stop-bits must be 1 or 2");
    command.meter.line.stop_bits = framing.stop_bits;
    if (late_ms < 0 || static_cast<unsigned long>(late_ms) > kLongestWaitMs)
        throw std::invalid_argument("--late must be from 0 to " + std::to_string(kLongestWaitMs) +
                                    " ms");
    command.meter.late_delay = std::chrono::milliseconds(late_ms);
    if (command.meter.following_gap_characters < 0 ||
        command.meter.following_gap_characters > kMostFollowingGapCharacters)
        throw std::invalid_argument("--copy-gap must be from 0 to " +
                                    std::to_string(kMostFollowingGapCharacters) + " characters");
    for (const std::string& fault : faults)
        command.meter.faults.Add(fault);
    command.meter.faults.SetDefaultStation(command.meter.stations.front());
    for (const std::string& fault : line_faults)
        command.meter.line_faults.Add(fault);
    return command;
}

// "station 1" or "stations 1, 2, 3".
std::string StationList(const std::vector<std::uint8_t>& stations) {
    std::string list = stations.size() == 1 ? "station " : "stations ";
    for (std::size_t i = 0; i < stations.size(); ++i)
        list += (i == 0 ? "" : ", ") + std::to_string(stations[i]);
    return list;
}

// A link left by an earlier run may go; any other file stays.
void ReplaceableLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
        ::unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Command command;
    try {
        command = Parse(argc, argv);
    } catch (const std::exception& failure) {
        std::cerr << "simulated_meter: " << failure.what() << " (see --help)" << std::endl;
        return static_cast<int>(ExitCode::kUsage);
    }
    if (command.help)
        return static_cast<int>(ExitCode::kOk);

    // Stop signals are taken by sigwait below, never by the serving thread.
    const sigset_t stop_signals = StopSignals::Set();
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    try {
        SimulatedMeter meter(command.meter);
        if (!command.link.empty()) {
            ReplaceableLink(command.link);
            if (::symlink(meter.PortPath().c_str(), command.link.c_str()) != 0)
                throw std::system_error(errno, std::generic_category(),
                                        "cannot link " + command.link);
        }
        if (command.verbose) {
            const bool several = command.meter.stations.size() > 1;
            meter.SetRequestObserver([several](const ReadRequest& request, std::uint32_t number,
                                               MeterFault fault) {
                if (several)
                    std::cout << "station " << int{request.station} << " ";
                std::cout << "request " << number << ": start " << request.start << ", "
                          << request.quantity << " registers, ";
                if (fault == MeterFault::kBusy)
                    std::cout << "not taken, still answering";
                else
                    std::cout << "answer "
                              << (fault == MeterFault::kNone ? "as usual" : FaultPlan::Name(fault));
                std::cout << std::endl;
            });
        }
        std::cout << "simulated meter: " << StationList(command.meter.stations) << ", "
                  << command.meter.line.baud << " baud"
                  << (command.meter.line.Framing() == "8N1" ? "" : " " + command.meter.line.Framing())
                  << (command.meter.echo ? ", echoing" : "");
        for (const std::string& fault : command.meter.line_faults.Texts())
            std::cout << ", line fault " << fault;
        std::cout << ", on " << meter.PortPath() << std::endl;
        meter.Start();
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        meter.Stop();
        if (!command.link.empty())
            ::unlink(command.link.c_str());
    } catch (const std::exception& failure) {
        std::cerr << "simulated_meter: " << failure.what() << std::endl;
        return static_cast<int>(ExitCode::kFailure);
    }
    return static_cast<int>(ExitCode::kOk);
}
