#pragma once

#include <cstdint>
#include <map>
#include <string>
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
};

// Which requests get which fault. Requests addressed to the meter are
// numbered from 1 in the order they arrive.
class FaultPlan {
public:
    // Adds faults from text "KIND@N[,N...]", KIND one of silent, short, extra,
    // noise, late, station. Throws std::invalid_argument with a readable
    // message on anything else, and when a request would get a second fault
    // (the plan is then unchanged).
    void Add(const std::string& text);

    MeterFault At(std::uint32_t request) const;
    bool Empty() const { return faults_.empty(); }

    static const char* Name(MeterFault fault);
    // "silent, short, extra, noise, late, station", for help texts.
    static std::string KindList();

private:
    static void RefuseSecondFault(std::uint32_t request, MeterFault fault,
                                  const std::map<std::uint32_t, MeterFault>& planned);

    std::map<std::uint32_t, MeterFault> faults_;
};
