#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class VDeviceInterface;

// The bench host's live table: one row per round with the round's label,
// the local time, the meter's eight signal values as its value queries
// give them (or the query's failure message) and the counters of completed
// and lost rounds.
class RoundTable {
public:
    explicit RoundTable(std::ostream& out) : out_(out) {}

    void WriteHeader();
    void WriteRow(const std::string& label, const VDeviceInterface& meter, std::uint64_t completed,
                  std::uint64_t lost, const std::string& note);

private:
    std::ostream& out_;
};
