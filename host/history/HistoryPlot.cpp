#include "HistoryPlot.h"

#include "TrendGaps.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <algorithm>
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

// Seconds from 1970 on the history's own clock (local time, no zone), so
// gnuplot, which shows times as they are, shows the stored clock readings.
std::optional<double> SecondsOf(const std::string& stored_at) {
    namespace pt = boost::posix_time;
    try {
        const pt::ptime stored = pt::time_from_string(stored_at);
        if (stored.is_special())
            return std::nullopt;
        const pt::ptime epoch(boost::gregorian::date(1970, 1, 1));
        return static_cast<double>((stored - epoch).total_milliseconds()) / 1000.0;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

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

}  // namespace

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

HistoryPlot::HistoryPlot(std::uint32_t data_id, const std::vector<HistoryRow>& rows)
    : data_id_(data_id) {
    for (const HistoryRow& row : rows) {
        if (row.data_id != data_id)
            continue;
        const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
        const std::optional<double> seconds = SecondsOf(row.stored_at);
        if (!record || !seconds)
            continue;
        Record drawn;
        drawn.stored_at = row.stored_at;
        drawn.stored_seconds = *seconds;
        for (int i = 0; i < MeterRecord::kSignalCount; ++i)
            drawn.signals[i] = record->Signal(i);
        records_.push_back(drawn);
    }
    std::vector<double> times;
    for (const Record& record : records_)
        times.push_back(record.stored_seconds);
    gaps_ = TrendGaps::Find(times);
}

std::string HistoryPlot::FirstStored() const {
    return records_.empty() ? "" : records_.front().stored_at;
}

std::string HistoryPlot::LastStored() const {
    return records_.empty() ? "" : records_.back().stored_at;
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
              "set xtics time\n"
              "set format x \""
           << TimeFormat() << "\" timedate\n";
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
    title << "data id " << data_id_ << ": " << records_.size()
          << (records_.size() == 1 ? " record" : " records") << " stored " << FirstStored()
          << " to " << LastStored() << ", " << gaps_.size()
          << (gaps_.size() == 1 ? " gap" : " gaps");
    return title.str();
}

// Tick labels that tell neighbouring ticks apart over the plot's span.
std::string HistoryPlot::TimeFormat() const {
    const auto [earliest, latest] = std::minmax_element(
        records_.begin(), records_.end(),
        [](const Record& a, const Record& b) { return a.stored_seconds < b.stored_seconds; });
    const double span = latest->stored_seconds - earliest->stored_seconds;
    if (span < 10.0)
        return "%H:%M:%.1S";
    if (span < 86400.0)
        return "%H:%M:%S";
    return "%m-%d %H:%M";
}

// Seconds, then every signal, one record a line; an empty line where a gap
// lies, which gnuplot draws as a break in each line.
std::string HistoryPlot::DataBlock() const {
    std::string block = "$trend << EOD\n";
    std::size_t next_gap = 0;
    char number[32];
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (next_gap < gaps_.size() && gaps_[next_gap] == i) {
            block += '\n';
            ++next_gap;
        }
        std::snprintf(number, sizeof number, "%.3f", records_[i].stored_seconds);
        block += number;
        for (const float signal : records_[i].signals) {
            std::snprintf(number, sizeof number, " %.2f", static_cast<double>(signal));
            block += number;
        }
        block += '\n';
    }
    return block + "EOD\n";
}

std::string HistoryPlot::Panel(const std::vector<int>& signals, bool last) const {
    std::ostringstream panel;
    panel << "set ylabel \"" << AxisLabel(MeterRecord::SignalUnit(signals.front())) << "\"\n";
    if (last)
        panel << "set xlabel \"time stored (local); a break in a line: no record for over "
              << TrendGaps::kSpacingFactor << " times the median spacing\"\n";
    const char* style = records_.size() <= kMostRecordsWithPoints ? "linespoints" : "lines";
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
