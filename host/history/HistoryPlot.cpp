#include "HistoryPlot.h"

#include "HistoryStore.h"
#include "StoredTime.h"
#include "TrendGaps.h"

#include <boost/algorithm/string/predicate.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Lines with a point on every record while the points stay apart; beyond
// that, lines only, so a long history stays a small file.
constexpr std::size_t kMostRecordsWithPoints = 300;

// One colour per signal, across all panels, all readable on white.
constexpr const char* kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                    "#9467bd", "#8c564b", "#e377c2", "#17becf"};
static_assert(sizeof kColours / sizeof kColours[0] >= MeterRecord::kSignalCount,
              "a colour for every signal");

// Text for a double-quoted gnuplot string.
std::string Escaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string AxisLabel(const std::string& unit) {
    return unit == "raw" ? "raw word, as the meter reports it" : unit;
}

// The signals in panels: a run of signals of one unit read from consecutive
// register words is one block of the meter's register map (the phase
// voltages, the line voltages, the currents) and shares a panel, so each
// panel's scale fits quantities of one kind.
std::vector<std::vector<int>> Panels() {
    std::vector<std::vector<int>> panels;
    for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
        const bool continues_block =
            i > 0 && std::string(MeterRecord::SignalUnit(i)) == MeterRecord::SignalUnit(i - 1) &&
            MeterRecord::SignalElement(i) == MeterRecord::SignalElement(i - 1) + 1;
        if (!continues_block)
            panels.emplace_back();
        panels.back().push_back(i);
    }
    return panels;
}

// The x axis's range and its ticks, each labelled by the axis, every line
// of a label a line under the tick.
std::string AxisCommands(const TimeAxis& axis) {
    std::ostringstream commands;
    char number[48];
    std::snprintf(number, sizeof number, "%.3f:%.3f", axis.Start(), axis.End());
    commands << "set xrange [" << number << "]\n";
    const char* separator = "set xtics (";
    for (const TimeAxis::Tick& tick : axis.Ticks()) {
        std::string label;
        for (const char c : tick.label)
            label += c == '\n' ? std::string("\\n") : std::string(1, c);
        std::snprintf(number, sizeof number, "%.3f", tick.seconds);
        commands << separator << '"' << label << "\" " << number;
        separator = ", ";
    }
    commands << (axis.Ticks().empty() ? "" : ")\n");
    return commands.str();
}

}  // namespace

std::optional<double> HistoryPlot::WindowStart(const std::string& text) {
    const std::optional<StoredTime::Typed> typed = StoredTime::ParseTyped(text);
    if (!typed)
        return std::nullopt;
    return typed->seconds;
}

// The history counts milliseconds: a window that ends at a time takes the
// records of that very millisecond.
std::optional<double> HistoryPlot::WindowUntil(const std::string& text) {
    const std::optional<StoredTime::Typed> typed = StoredTime::ParseTyped(text);
    if (!typed)
        return std::nullopt;
    return typed->date_only ? typed->seconds + 86400.0 : typed->seconds + 0.0005;
}

std::optional<HistoryPlot::Format> HistoryPlot::FormatOf(const std::string& path) {
    if (boost::algorithm::iends_with(path, ".svg"))
        return Format::kSvg;
    if (boost::algorithm::iends_with(path, ".png"))
        return Format::kPng;
    return std::nullopt;
}

namespace {

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
// What comes before an SVG's root element (the XML declaration, comments, a
// document type) fits in this much of any file gnuplot or a drawing program
// writes.
constexpr std::size_t kSvgPrologueBytes = 4096;

// Skips white space and the prologue's declarations and comments; false
// when the text ends inside one.
bool SkipPrologue(const std::string& text, std::size_t& at) {
    for (;;) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string::npos)
            return false;
        const char* close = text.compare(at, 4, "<!--") == 0 ? "-->"
                            : text.compare(at, 2, "<?") == 0 ? "?>"
                            : text.compare(at, 2, "<!") == 0 ? ">"
                                                             : nullptr;
        if (close == nullptr)
            return true;
        at = text.find(close, at + 2);
        if (at == std::string::npos)
            return false;
        at += std::strlen(close);
    }
}

}  // namespace

bool HistoryPlot::IsPictureFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string head(kSvgPrologueBytes, '\0');
    file.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    if (head.compare(0, sizeof kPngSignature - 1, kPngSignature) == 0)
        return true;
    std::size_t at = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte order mark
    if (!SkipPrologue(head, at) || head.compare(at, 4, "<svg") != 0)
        return false;
    const char after = at + 4 < head.size() ? head[at + 4] : '\0';
    return std::strchr(" \t\r\n>/", after) != nullptr && after != '\0';
}

HistoryPlot::HistoryPlot(std::uint32_t data_id, const std::vector<HistoryRow>& rows,
                         const Window& window)
    : HistoryPlot(data_id,
                  Rows([&rows](const std::function<bool(const HistoryRow&)>& visit) {
                      for (const HistoryRow& row : rows)
                          if (!visit(row))
                              return;
                  }),
                  window) {}

HistoryPlot::HistoryPlot(std::uint32_t data_id, const Rows& rows, const Window& window)
    : data_id_(data_id), window_(window) {
    Survey(rows);
    if (records_ == 0)
        return;
    axis_.emplace(std::isfinite(window_.from) ? window_.from : earliest_,
                  std::isfinite(window_.until) ? window_.until : latest_);
    Reduce(rows);
}

HistoryPlot HistoryPlot::FromHistory(HistoryStore& history, std::uint32_t data_id,
                                     const Window& window) {
    return HistoryPlot(
        data_id,
        Rows([&history, data_id](const std::function<bool(const HistoryRow&)>& visit) {
            history.ForEachRow(data_id, visit);
        }),
        window);
}

// When a row is drawn: the time it was stored; nothing for a row of another
// device, not a meter record, of a time that cannot be read or outside the
// window.
std::optional<double> HistoryPlot::Drawn(const HistoryRow& row) const {
    if (row.data_id != data_id_ || row.record.size() != MeterRecord::kSize)
        return std::nullopt;
    const std::optional<double> seconds = StoredTime::Seconds(row.stored_at);
    if (!seconds || *seconds < window_.from || *seconds >= window_.until)
        return std::nullopt;
    return seconds;
}

// The first pass: how many records, over what time, how far apart.
void HistoryPlot::Survey(const Rows& rows) {
    TrendGaps::Spacings spacings;
    double previous = 0.0;
    rows([&](const HistoryRow& row) {
        const std::optional<double> seconds = Drawn(row);
        if (!seconds)
            return true;
        if (records_ == 0) {
            first_stored_ = row.stored_at;
            earliest_ = latest_ = *seconds;
        } else {
            spacings.Add(*seconds - previous);
        }
        last_stored_ = row.stored_at;
        earliest_ = std::min(earliest_, *seconds);
        latest_ = std::max(latest_, *seconds);
        previous = *seconds;
        ++records_;
        return true;
    });
    longest_usual_ = spacings.LongestUsual();
}

// The second pass: the records into stretches. It takes as many records as
// the first found, so rows a run stores in between are left out of both.
void HistoryPlot::Reduce(const Rows& rows) {
    const bool reduced = records_ > kMostExactRecords;
    const double column_seconds = (axis_->End() - axis_->Start()) / kColumns;
    std::size_t seen = 0;
    double previous = 0.0;
    std::int64_t column = -1;
    int pieces_in_column = 0;
    rows([&](const HistoryRow& row) {
        if (seen == records_)
            return false;
        const std::optional<double> seconds = Drawn(row);
        if (!seconds)
            return true;
        const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
        const bool gap = seen > 0 && TrendGaps::IsGap(*seconds - previous, longest_usual_);
        gaps_ += gap ? 1 : 0;
        const std::int64_t here =
            reduced ? std::clamp<std::int64_t>(
                          static_cast<std::int64_t>(std::floor((*seconds - axis_->Start()) /
                                                               column_seconds)),
                          0, static_cast<std::int64_t>(kColumns) - 1)
                    : static_cast<std::int64_t>(seen);
        ++seen;
        previous = *seconds;
        const bool in_column = !stretches_.empty() && here == column;
        if (!in_column || (gap && pieces_in_column < kMostPiecesInColumn)) {
            pieces_in_column = in_column ? pieces_in_column + 1 : 1;
            column = here;
            stretches_.emplace_back();
            stretches_.back().first_seconds = *seconds;
            stretches_.back().gap_before = gap;
        }
        Stretch& stretch = stretches_.back();
        const std::uint32_t index = stretch.records++;
        stretch.last_seconds = *seconds;
        for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
            const float value = record->Signal(i);
            if (index == 0 || value < stretch.low[i]) {
                stretch.low[i] = value;
                stretch.low_at[i] = index;
            }
            if (index == 0 || value > stretch.high[i]) {
                stretch.high[i] = value;
                stretch.high_at[i] = index;
            }
        }
        return true;
    });
}

std::size_t HistoryPlot::PointCount() const {
    std::size_t points = 0;
    for (const Stretch& stretch : stretches_)
        points += stretch.records == 1 ? 1 : 2;
    return points;
}

std::string HistoryPlot::Script(Format format) const {
    std::ostringstream script;
    // No enhanced text: keys and units appear exactly as written.
    if (format == Format::kSvg)
        script << "set terminal svg size 1000,900 noenhanced font \"sans,11\" "
                  "background rgb \"white\"\n";
    else
        script << "set terminal pngcairo size 1000,900 noenhanced font \"sans,10\" "
                  "background rgb \"white\"\n";
    script << "set encoding utf8\n" << DataBlock();
    for (int i = 0; i < MeterRecord::kSignalCount; ++i)
        script << "set linetype " << i + 1 << " linecolor rgb \"" << kColours[i]
               << "\" linewidth 1.5 pointtype 7 pointsize 0.4\n";
    // Fixed margins line the panels' time axes up under each other.
    script << "set lmargin 11\nset rmargin 16\n"
              "set key outside right top vertical Left reverse\n"
              "set grid\n"
           << AxisCommands(*axis_);
    const std::vector<std::vector<int>> panels = Panels();
    script << "set multiplot layout " << panels.size() << ",1 title \"" << Escaped(Summary())
           << "\"\n";
    for (std::size_t i = 0; i < panels.size(); ++i)
        script << Panel(panels[i], i + 1 == panels.size());
    script << "unset multiplot\n";
    return script.str();
}

std::string HistoryPlot::Summary() const {
    std::ostringstream title;
    title << "data id " << data_id_ << ": " << records_
          << (records_ == 1 ? " record" : " records") << " stored " << FirstStored()
          << " to " << LastStored() << ", " << gaps_ << (gaps_ == 1 ? " gap" : " gaps");
    return title.str();
}

// Seconds, then every signal, a point a line; an empty line where a gap
// lies, which gnuplot draws as a break in each line. A stretch of several
// records is two points, at its first and its last record's time: each
// signal's lowest and highest value, the one that came first first.
std::string HistoryPlot::DataBlock() const {
    std::string block = "$trend << EOD\n";
    char number[32];
    const auto point = [&](double seconds, const Stretch& stretch, bool first) {
        std::snprintf(number, sizeof number, "%.3f", seconds);
        block += number;
        for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
            const bool low = (stretch.low_at[i] <= stretch.high_at[i]) == first;
            std::snprintf(number, sizeof number, " %.2f",
                          static_cast<double>(low ? stretch.low[i] : stretch.high[i]));
            block += number;
        }
        block += '\n';
    };
    for (std::size_t i = 0; i < stretches_.size(); ++i) {
        const Stretch& stretch = stretches_[i];
        if (i > 0 && stretch.gap_before)
            block += '\n';
        point(stretch.first_seconds, stretch, true);
        if (stretch.records > 1)
            point(stretch.last_seconds, stretch, false);
    }
    return block + "EOD\n";
}

std::string HistoryPlot::Panel(const std::vector<int>& signals, bool last) const {
    std::ostringstream panel;
    panel << "set ylabel \"" << AxisLabel(MeterRecord::SignalUnit(signals.front())) << "\"\n";
    if (last) {
        const bool reduced = records_ > kMostExactRecords;
        panel << "set xlabel \"time stored (local); a break in a line: no record for over "
              << TrendGaps::kSpacingFactor << " times the median spacing";
        if (reduced)
            panel << "\\neach of " << kColumns
                  << " time columns drawn as the lowest and highest value of its records";
        // gnuplot places the label under one line of tick labels: below
        // the dates under the times it is moved down as far, with room.
        int tick_lines = 1;
        for (const TimeAxis::Tick& tick : axis_->Ticks())
            tick_lines = std::max(
                tick_lines, 1 + static_cast<int>(std::count(tick.label.begin(), tick.label.end(), '\n')));
        panel << "\" offset 0," << 1 - tick_lines << "\nset bmargin "
              << tick_lines + (reduced ? 2 : 1) + 1 << '\n';
    }
    const char* style = records_ <= kMostRecordsWithPoints ? "linespoints" : "lines";
    const char* separator = "plot ";
    for (const int i : signals) {
        panel << separator << "$trend using 1:" << i + 2 << " with " << style << " linetype "
              << i + 1 << " title \"" << MeterRecord::SignalKeys()[i] << " ("
              << MeterRecord::SignalUnit(i) << ")\"";
        separator = ", \\\n     ";
    }
    panel << '\n';
    return panel.str();
}
