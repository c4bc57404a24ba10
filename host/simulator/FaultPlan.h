#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A fault the simulated meter can put into one answer.
enum class MeterFault {
    kNone,
    kSilent,        // no answer at all
    kShort,         // only the first bytes of the answer block
    kExtra,         // the block followed by bytes to spare
    kNoise,         // stray bytes, then the block
    kLate,          // the block, but only after the late delay
    kWrongStation,  // the block as sent by another station
    kBadEcho,       // the line's echo of the request garbled (with an echoing line)
    kCorrupt,       // the block with one bit of a reading flipped on the way
    kTwice,         // the block, then the same block again a few characters later
    kNeighbour,     // the block, then the next station's own block a few characters later
    kStandard,      // a 47-byte answer of the 21 registers asked for, checksum intact
    kException,     // a Modbus exception answer: illegal data address
    kBusy,          // the request not taken while an answer of the station is still due
};

// A twice fault's copy, and a neighbour fault's answer, start this many
// characters of silence after the answer before them ends, unless the line
// is told another gap, from 0 to the most.
constexpr int kFollowingGapCharacters = 4;
constexpr int kMostFollowingGapCharacters = 10000;

// Which requests get which fault. Requests addressed to a station are
// numbered from 1, each station counting its own, in the order they arrive.
class FaultPlan {
public:
    // How long after its request a `late` answer comes, unless set.
    static constexpr std::chrono::milliseconds kDefaultLateDelay{800};

    // Adds faults from text "KIND@N[,N...]" or "KIND@S:N[,N...]", KIND one of
    // KindList(), S a station address (StationAddress); "KIND@*" or "KIND@S:*" puts
    // the fault into every request of the station. Without S the faults are
    // the default station's: the first one a simulated line serves. Throws
    // std::invalid_argument with a readable message on anything else, and
    // when a request would get a second fault (the plan is then unchanged).
    void Add(const std::string& text);

    // Makes `station` the default one: faults named without a station become
    // its own, and so do those added later. Only then can a fault named for
    // the default station's request and another named for the same request
    // with the station's address be told apart as two for one request:
    // throws std::invalid_argument for such a pair, the plan unchanged.
    void SetDefaultStation(std::uint8_t station);

    // The fault of the default station's request.
    MeterFault At(std::uint32_t request) const;
    // The fault of a request named with its station; `is_default` when the
    // station is the default one, whose faults may be named without it.
    MeterFault At(std::uint8_t station, std::uint32_t request, bool is_default) const;
    bool Empty() const { return faults_.empty(); }

    static const char* Name(MeterFault fault);
    // What the meter sends for the fault, in a few words.
    static const char* Meaning(MeterFault fault);
    // Every kind, in the order of the help texts.
    static std::vector<MeterFault> Kinds();
    // "silent, short, extra, ...", for help texts.
    static std::string KindList();

private:
    // Station 0: the default station, until it is set. Request 0: every
    // request of the station.
    using Request = std::pair<std::uint8_t, std::uint32_t>;
    using Faults = std::map<Request, MeterFault>;

    static std::optional<Faults::value_type> Clash(const Request& request, const Faults& planned);
    static void RefuseSecondFault(const Request& request, MeterFault fault, const Faults& planned);
    static MeterFault Find(const Faults& planned, std::uint8_t station, std::uint32_t request);

    Faults faults_;
    std::uint8_t default_station_ = 0;
};
