#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

class VDeviceInterface;

// The bench host's live table: one row per meter per round with the round's
// label, the local time, the meter's station, its eight signal values as
// its value queries give them (or the query's failure message) and the
// counters of completed and lost rounds.
//
// Each line is flushed as it is written; one that cannot be written (the
// reader of a pipe has gone, the disk is full) throws OutputGone, once the
// stream has failed, for this or any earlier line.
class RoundTable {
public:
    class OutputGone : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    explicit RoundTable(std::ostream& out) : out_(out) {}

    void WriteHeader();
    // The value cells of a row, as the meter answers its queries now.
    static std::string Values(const VDeviceInterface& meter);
    void WriteRow(const std::string& label, int station, const std::string& values,
                  std::uint64_t completed, std::uint64_t lost, const std::string& note);
    void WriteRow(const std::string& label, int station, const VDeviceInterface& meter,
                  std::uint64_t completed, std::uint64_t lost, const std::string& note) {
        WriteRow(label, station, Values(meter), completed, lost, note);
    }
    // A row with "-" for every value: for a round whose answer the meter
    // decoded but the host dropped, whose values are no reading of it.
    void WriteRowWithoutValues(const std::string& label, int station, std::uint64_t completed,
                               std::uint64_t lost, const std::string& note);

private:
    void Put(const std::string& line);
    void WriteCells(const std::string& label, int station, const std::string& values,
                    std::uint64_t completed, std::uint64_t lost, const std::string& note);

    std::ostream& out_;
};
