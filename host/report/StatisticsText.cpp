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
// Beyond this many characters a line of the table would wrap in a terminal
// of the usual width: a column per meter is kept while the table fits.
constexpr std::size_t kWidestTable = 100;

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

void WriteHeading(std::ostream& out, const StatisticsReport& report) {
    out << "statistics over " << Fixed(report.run_seconds) << " s at "
        << LineSettingsName(report.line) << ": wire limit "
        << Fixed(report.wire_limit_polls_per_second) << " polls/s (" << Fixed(report.poll_ms)
        << " ms a poll)\n";
}

// A row per figure, a column per meter and the line's last.
void WriteMeterColumns(std::ostream& out, const StatisticsReport& report, int column_width) {
    out << std::left << std::setw(kLabelWidth) << "" << std::right;
    for (const auto& meter : report.meters)
        out << std::setw(column_width) << StationHeader(meter.first);
    out << std::setw(column_width) << "line" << '\n';
    out << std::left << std::setw(kLabelWidth) << "" << std::right;
    for (const auto& meter : report.meters)
        out << std::setw(column_width) << DataIdHeader(meter.first);
    out << std::setw(column_width) << "all meters" << '\n';
    for (const Row& row : Rows()) {
        out << std::left << std::setw(kLabelWidth) << row.label << std::right;
        for (const auto& meter : report.meters)
            out << std::setw(column_width) << row.cell(meter.second);
        out << std::setw(column_width) << row.cell(report.line_total) << '\n';
    }
}

Cell CellOf(const std::string& label) {
    for (const Row& row : Rows())
        if (row.label == label)
            return row.cell;
    return [](const PollFigures&) { return std::string("?"); };
}

// "no answer 2, short 1": the reasons of the rounds lost, "-" for none.
std::string LossesByReason(const PollFigures& figures) {
    std::string text;
    for (LossReason reason : kLossReasons)
        if (figures.LostFor(reason) != 0)
            text += (text.empty() ? "" : ", ") + std::string(LossReasonLabel(reason)) + ' ' +
                    Count(figures.LostFor(reason));
    return text.empty() ? "-" : text;
}

// A list of "a, b, c" that starts at column `indent`, over as many lines
// as it needs to stay within the table's width, each further line
// indented as far.
std::string WrappedUnder(const std::string& list, std::size_t indent) {
    const std::size_t room = kWidestTable > indent + 20 ? kWidestTable - indent : 20;
    std::string wrapped;
    std::size_t line_length = 0;
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find(", ", at);
        end = end == std::string::npos ? list.size() : end + 1;  // the comma stays with its item
        const std::string item = list.substr(at, end - at);
        if (line_length > 0 && line_length + 1 + item.size() > room) {
            wrapped += '\n' + std::string(indent, ' ');
            line_length = 0;
        } else if (line_length > 0) {
            wrapped += ' ';
            ++line_length;
        }
        wrapped += item;
        line_length += item.size();
        at = end == list.size() ? end : end + 1;
    }
    return wrapped;
}

// One row per meter and the line's last, a column per figure, each label
// over two lines (split at its first space), right-aligned; a last column
// of free text when `trailing` names one.
void WriteMeterRows(std::ostream& out, const StatisticsReport& report,
                    const std::vector<std::string>& labels, const std::string& trailing,
                    const std::function<std::string(const PollFigures&)>& trailing_cell) {
    struct Column {
        std::string top;
        std::string bottom;
        std::vector<std::string> cells;  // the meters', then the line's
        std::size_t width = 0;
    };
    std::vector<Column> columns;
    columns.push_back({"", "station", {}, 0});
    columns.push_back({"", "data id", {}, 0});
    for (const auto& meter : report.meters) {
        columns[0].cells.push_back(std::to_string(meter.first.station));
        columns[1].cells.push_back(std::to_string(meter.first.data_id));
    }
    columns[0].cells.push_back("line");
    columns[1].cells.push_back("all meters");
    for (const std::string& label : labels) {
        const std::size_t space = label.find(' ');
        Column column;
        column.top = space == std::string::npos ? "" : label.substr(0, space);
        column.bottom = space == std::string::npos ? label : label.substr(space + 1);
        const Cell cell = CellOf(label);
        for (const auto& meter : report.meters)
            column.cells.push_back(cell(meter.second));
        column.cells.push_back(cell(report.line_total));
        columns.push_back(column);
    }
    for (Column& column : columns) {
        column.width = std::max(column.top.size(), column.bottom.size());
        for (const std::string& cell : column.cells)
            column.width = std::max(column.width, cell.size());
    }
    const auto line = [&](const std::function<const std::string&(const Column&)>& text,
                          const std::string& last) {
        std::string written;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::string& cell = text(columns[i]);
            written += std::string((i == 0 ? 0 : kColumnGap) + columns[i].width - cell.size(), ' ') +
                       cell;
        }
        if (!last.empty())
            written += std::string(kColumnGap, ' ') + WrappedUnder(last, written.size() + kColumnGap);
        out << written.substr(0, written.find_last_not_of(' ') + 1) << '\n';
    };
    line([](const Column& column) -> const std::string& { return column.top; }, "");
    line([](const Column& column) -> const std::string& { return column.bottom; }, trailing);
    for (std::size_t row = 0; row <= report.meters.size(); ++row) {
        const PollFigures& figures =
            row < report.meters.size() ? report.meters[row].second : report.line_total;
        line([row](const Column& column) -> const std::string& { return column.cells[row]; },
             trailing.empty() ? "" : trailing_cell(figures));
    }
}

}  // namespace

std::string LineSettingsName(const LineSettings& line) {
    const char parity = line.parity == Parity::kEven ? 'E' : line.parity == Parity::kOdd ? 'O' : 'N';
    return std::to_string(line.baud) + ' ' + std::to_string(line.data_bits) + parity +
           std::to_string(line.stop_bits);
}

void WriteStatisticsText(std::ostream& out, const StatisticsReport& report) {
    WriteHeading(out, report);
    const int column_width = ColumnWidth(report);
    if (kLabelWidth + static_cast<std::size_t>(column_width) * (report.meters.size() + 1) <=
        kWidestTable) {
        WriteMeterColumns(out, report, column_width);
    } else {
        WriteMeterRows(out, report,
                       {"requests sent", "rounds completed", "rounds lost", "loss %",
                        "exchanges stopped", "polls/s", "line use %"},
                       "", nullptr);
        out << '\n';
        WriteMeterRows(out, report,
                       {"response min ms", "response mean ms", "response p95 ms", "response max ms"},
                       "rounds lost by reason", LossesByReason);
    }
    out.flush();
}
