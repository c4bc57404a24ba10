#pragma once

#include "HistoryRow.h"
#include "MeterRecord.h"
#include "TimeAxis.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

class HistoryStore;

// The stretch of time a trend plot draws, on the history's clock: records
// stored from `from` and before `until`.
struct TrendWindow {
    double from = -std::numeric_limits<double>::infinity();
    double until = std::numeric_limits<double>::infinity();
};

// The stored history of one data id as a trend plot over the time each
// record was stored: one panel per block of the meter's signal table (the
// phase voltages and the line voltages in V, the currents as raw words),
// each series titled with its signal key and unit, and a break in every
// line where TrendGaps finds one. Rows that are not a meter record, or
// whose time cannot be read, are left out. Drawn by gnuplot from the
// script this class writes.
//
// A history of any length is read twice, a row at a time: once for the
// time range and the usual spacing, once for the values. Up to
// kMostExactRecords records are drawn one by one; beyond that the time
// axis is cut into kColumns columns (two for each pixel column of the
// image), and each stretch of records that falls into one column without a
// gap is drawn as two points holding each signal's lowest and highest
// value there, in the order they came, so that a single record's spike or
// dip still shows. A gap wider than a column always breaks the lines; of
// the gaps within one column, the first kMostPiecesInColumn - 1 do (the
// others could not be seen), and all are counted.
class HistoryPlot {
public:
    enum class Format { kSvg, kPng };

    static constexpr std::size_t kColumns = 1600;
    static constexpr std::size_t kMostExactRecords = 2 * kColumns;
    static constexpr int kMostPiecesInColumn = 3;

    using Window = TrendWindow;
    // A window's ends as a person types them: a local time ("2026-12-08
    // 20:00", seconds if wanted) or a date. The window ends after the time
    // given, or after the whole day given. Nothing for other text.
    static std::optional<double> WindowStart(const std::string& text);
    static std::optional<double> WindowUntil(const std::string& text);

    // By the file name's extension, .svg or .png in any case; nothing for
    // any other name.
    static std::optional<Format> FormatOf(const std::string& path);
    // Whether the file at `path` is a picture of either format, by its
    // signature (PNG) or its first element (SVG): one a plot may replace.
    static bool IsPictureFile(const std::string& path);

    // Calls its argument for each row of the history, oldest first, until
    // it returns false; may be called more than once.
    using Rows = std::function<void(const std::function<bool(const HistoryRow&)>&)>;

    // `rows`: the history, oldest first, of any number of data ids.
    HistoryPlot(std::uint32_t data_id, const std::vector<HistoryRow>& rows,
                const Window& window = Window());
    HistoryPlot(std::uint32_t data_id, const Rows& rows, const Window& window = Window());
    // Reads one data id's rows from the history.
    static HistoryPlot FromHistory(HistoryStore& history, std::uint32_t data_id,
                                   const Window& window = Window());

    std::size_t RecordCount() const { return records_; }
    std::size_t GapCount() const { return gaps_; }
    // The data block's lines that carry a point.
    std::size_t PointCount() const;
    // "YYYY-MM-DD HH:MM:SS.mmm" of the first and the last record drawn.
    std::string FirstStored() const { return first_stored_; }
    std::string LastStored() const { return last_stored_; }
    // "data id N: R records stored FIRST to LAST, G gaps", the plot's title.
    std::string Summary() const;

    // A gnuplot script that draws the plot to its standard output; only
    // for a plot with at least one record.
    std::string Script(Format format) const;

private:
    // Records next to each other in history order, of one time column,
    // without a gap between them (one record when not reduced).
    struct Stretch {
        double first_seconds = 0.0;
        double last_seconds = 0.0;
        std::uint32_t records = 0;
        bool gap_before = false;
        std::array<float, MeterRecord::kSignalCount> low{};
        std::array<float, MeterRecord::kSignalCount> high{};
        std::array<std::uint32_t, MeterRecord::kSignalCount> low_at{};  // record within it
        std::array<std::uint32_t, MeterRecord::kSignalCount> high_at{};
    };

    void Survey(const Rows& rows);
    void Reduce(const Rows& rows);
    std::optional<double> Drawn(const HistoryRow& row) const;
    std::string DataBlock() const;
    std::string Panel(const std::vector<int>& signals, bool last) const;

    std::uint32_t data_id_;
    Window window_;
    std::size_t records_ = 0;
    std::size_t gaps_ = 0;
    std::int64_t last_row_id_ = 0;
    std::string first_stored_;
    std::string last_stored_;
    double earliest_ = 0.0;
    double latest_ = 0.0;
    double longest_usual_ = 0.0;
    std::optional<TimeAxis> axis_;
    std::vector<Stretch> stretches_;
};
