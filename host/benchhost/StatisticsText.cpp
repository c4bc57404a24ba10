#include "StatisticsText.h"

#include <algorithm>
#include <functional>
#include <iomanip>
#include <sstream>
#include <vector>

namespace {

constexpr int kLabelWidth = 22;
constexpr std::size_t kMinColumnWidth = 13;
constexpr std::size_t kColumnGap = 2;

using Cell = std::function<std::string(const PollFigures&)>;

std::string Count(std::uint64_t value) {
    return std::to_string(value);
}

std::string Fixed(double value) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(2) << value;
    return text.str();
}

Cell ResponseCell(double ResponseFigures::*field) {
    return [field](const PollFigures& figures) {
        return figures.response ? Fixed((*figures.response).*field) : std::string("-");
    };
}

struct Row {
    std::string label;
    Cell cell;
};

std::vector<Row> Rows() {
    std::vector<Row> rows = {
        {"requests sent", [](const PollFigures& f) { return Count(f.requests_sent); }},
        {"rounds completed", [](const PollFigures& f) { return Count(f.rounds_completed); }},
        {"rounds lost", [](const PollFigures& f) { return Count(f.rounds_lost); }},
    };
    for (LossReason reason : kLossReasons)
        rows.push_back({std::string("  ") + LossReasonLabel(reason),
                        [reason](const PollFigures& f) { return Count(f.LostFor(reason)); }});
    std::vector<Row> rest = {
        {"loss %", [](const PollFigures& f) { return Fixed(f.loss_percent); }},
        {"exchanges stopped", [](const PollFigures& f) { return Count(f.exchanges_stopped); }},
        {"response min ms", ResponseCell(&ResponseFigures::min_ms)},
        {"response mean ms", ResponseCell(&ResponseFigures::mean_ms)},
        {"response p95 ms", ResponseCell(&ResponseFigures::p95_ms)},
        {"response max ms", ResponseCell(&ResponseFigures::max_ms)},
        {"polls/s", [](const PollFigures& f) { return Fixed(f.polls_per_second); }},
        {"line use %", [](const PollFigures& f) { return Fixed(f.line_use_percent); }},
    };
    rows.insert(rows.end(), rest.begin(), rest.end());
    return rows;
}

std::string StationHeader(const MeterKey& meter) {
    return "station " + std::to_string(meter.station);
}

std::string DataIdHeader(const MeterKey& meter) {
    return "data id " + std::to_string(meter.data_id);
}

// Wide enough for every meter's heading, so that a ten-digit data id
// still stands apart from its neighbour.
int ColumnWidth(const StatisticsReport& report) {
    std::size_t width = kMinColumnWidth;
    for (const auto& meter : report.meters)
        width = std::max({width, StationHeader(meter.first).size() + kColumnGap,
                          DataIdHeader(meter.first).size() + kColumnGap});
    return static_cast<int>(width);
}

void WriteHeading(std::ostream& out, const StatisticsReport& report, int column_width) {
    out << "statistics over " << Fixed(report.run_seconds) << " s at "
        << LineSettingsName(report.line) << ": wire limit "
        << Fixed(report.wire_limit_polls_per_second) << " polls/s (" << Fixed(report.poll_ms)
        << " ms a poll)\n";
    out << std::left << std::setw(kLabelWidth) << "" << std::right;
    for (const auto& meter : report.meters)
        out << std::setw(column_width) << StationHeader(meter.first);
    out << std::setw(column_width) << "line" << '\n';
    out << std::left << std::setw(kLabelWidth) << "" << std::right;
    for (const auto& meter : report.meters)
        out << std::setw(column_width) << DataIdHeader(meter.first);
    out << std::setw(column_width) << "all meters" << '\n';
}

}  // namespace

std::string LineSettingsName(const LineSettings& line) {
    const char parity = line.parity == Parity::kEven ? 'E' : line.parity == Parity::kOdd ? 'O' : 'N';
    return std::to_string(line.baud) + ' ' + std::to_string(line.data_bits) + parity +
           std::to_string(line.stop_bits);
}

void WriteStatisticsText(std::ostream& out, const StatisticsReport& report) {
    const int column_width = ColumnWidth(report);
    WriteHeading(out, report, column_width);
    for (const Row& row : Rows()) {
        out << std::left << std::setw(kLabelWidth) << row.label << std::right;
        for (const auto& meter : report.meters)
            out << std::setw(column_width) << row.cell(meter.second);
        out << std::setw(column_width) << row.cell(report.line_total) << '\n';
    }
    out.flush();
}
