#include "RoundTable.h"

#include "MeterRecord.h"
#include "VDeviceInterface.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <array>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kRoundWidth = 5;
constexpr int kValueWidth = 8;
// A counter's cell begins with a space, so that a count of any length stays a
// word of its own after the last value.
constexpr int kCounterWidth = 6;
constexpr int kStationWidth = 8;
constexpr int kValuesWidth = MeterRecord::kSignalCount * kValueWidth;

// Columns a UTF-8 text takes on a terminal: East Asian characters take two.
int DisplayWidth(const std::string& text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        width += length >= 3 ? 2 : 1;
        i += length;
    }
    return width;
}

std::string PadLeft(const std::string& text, int width) {
    const int fill = width - DisplayWidth(text);
    return fill > 0 ? std::string(static_cast<std::size_t>(fill), ' ') + text : text;
}

std::string PadRight(const std::string& text, int width) {
    const int fill = width - DisplayWidth(text);
    return fill > 0 ? text + std::string(static_cast<std::size_t>(fill), ' ') : text;
}

std::string CounterCell(const std::string& text) {
    return ' ' + PadLeft(text, kCounterWidth - 1);
}

std::string LocalClock() {
    return boost::posix_time::to_simple_string(
        boost::posix_time::second_clock::local_time().time_of_day());
}

// One cell per signal: the value with two decimals, or the message the
// query failed with.
std::array<std::string, MeterRecord::kSignalCount> ValueCells(const VDeviceInterface& meter,
                                                              bool& all_failed_alike) {
    std::array<std::string, MeterRecord::kSignalCount> cells;
    bool failed = true;
    std::string first_failure;
    for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
        try {
            char text[32];
            std::snprintf(text, sizeof text, "%.2f",
                          static_cast<double>(meter.Get_Value(0, MeterRecord::SignalKeys()[i])));
            cells[i] = text;
            failed = false;
        } catch (const std::out_of_range& failure) {
            cells[i] = failure.what();
            if (i == 0)
                first_failure = cells[i];
            else if (cells[i] != first_failure)
                failed = false;
        }
    }
    all_failed_alike = failed;
    return cells;
}

}  // namespace

void RoundTable::WriteHeader() {
    std::string header = PadLeft("round", kRoundWidth) + "  " + PadRight("time", 8) +
                         PadLeft("station", kStationWidth);
    // Each column names its unit: volts, or the meter's raw word.
    for (int i = 0; i < MeterRecord::kSignalCount; ++i)
        header += ' ' + PadLeft(std::string(MeterRecord::SignalKeys()[i]) + ' ' +
                                    MeterRecord::SignalUnit(i),
                                kValueWidth - 1);
    header += CounterCell("done") + CounterCell("lost");
    Put(header);
}

// When every query fails with the same message (no data yet, data too old)
// the message is shown once across the value columns.
std::string RoundTable::Values(const VDeviceInterface& meter) {
    bool all_failed_alike = false;
    const auto cells = ValueCells(meter, all_failed_alike);
    if (all_failed_alike)
        return PadRight("  " + cells[0], kValuesWidth);
    std::string values;
    for (const std::string& cell : cells)
        values += ' ' + PadLeft(cell, kValueWidth - 1);
    return values;
}

void RoundTable::WriteRow(const std::string& label, int station, const std::string& values,
                          std::uint64_t completed, std::uint64_t lost, const std::string& note) {
    WriteCells(label, station, values, completed, lost, note);
}

void RoundTable::WriteRowWithoutValues(const std::string& label, int station,
                                       std::uint64_t completed, std::uint64_t lost,
                                       const std::string& note) {
    std::string values;
    for (int i = 0; i < MeterRecord::kSignalCount; ++i)
        values += ' ' + PadLeft("-", kValueWidth - 1);
    WriteCells(label, station, values, completed, lost, note);
}

void RoundTable::WriteCells(const std::string& label, int station, const std::string& values,
                            std::uint64_t completed, std::uint64_t lost, const std::string& note) {
    std::string row = PadLeft(label, kRoundWidth) + "  " + LocalClock() +
                      PadLeft(std::to_string(station), kStationWidth) + values +
                      CounterCell(std::to_string(completed)) + CounterCell(std::to_string(lost));
    if (!note.empty())
        row += "  " + note;
    Put(row);
}

void RoundTable::Put(const std::string& line) {
    out_ << line << std::endl;
    if (!out_)
        throw OutputGone("standard output cannot be written (closed?)");
}
