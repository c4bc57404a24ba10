#pragma once

#include "HistoryRow.h"
#include "MeterRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The stored history of one data id as a trend plot over the time each
// record was stored: one panel per block of the meter's signal table (the
// phase voltages and the line voltages in V, the currents as raw words),
// each series titled with its signal key and unit, and a break in every line where TrendGaps finds one.
// Rows that are not a meter record, or whose time cannot be read, are left
// out. Drawn by gnuplot from the script this class writes.
class HistoryPlot {
public:
    enum class Format { kSvg, kPng };

    // By the file name's extension, .svg or .png in any case; nothing for
    // any other name.
    static std::optional<Format> FormatOf(const std::string& path);
    // Whether the file at `path` is a picture of either format, by its
    // signature (PNG) or its first element (SVG): one a plot may replace.
    static bool IsPictureFile(const std::string& path);

    // `rows`: the history, oldest first, of any number of data ids.
    HistoryPlot(std::uint32_t data_id, const std::vector<HistoryRow>& rows);

    std::size_t RecordCount() const { return records_.size(); }
    std::size_t GapCount() const { return gaps_.size(); }
    // "YYYY-MM-DD HH:MM:SS.mmm" of the first and the last record drawn.
    std::string FirstStored() const;
    std::string LastStored() const;
    // "data id N: R records stored FIRST to LAST, G gaps", the plot's title.
    std::string Summary() const;

    // A gnuplot script that draws the plot to its standard output; only
    // for a plot with at least one record.
    std::string Script(Format format) const;

private:
    struct Record {
        std::string stored_at;
        double stored_seconds = 0.0;  // since 1970-01-01 00:00 of the same clock
        std::array<float, MeterRecord::kSignalCount> signals{};
    };

    std::string TimeFormat() const;
    std::string DataBlock() const;
    std::string Panel(const std::vector<int>& signals, bool last) const;

    std::uint32_t data_id_;
    std::vector<Record> records_;
    std::vector<std::size_t> gaps_;
};
