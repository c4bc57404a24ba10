#include "WireTimeReporter.h"

#include "LineSettings.h"
#include "ModbusFrame.h"
#include "QVT7702.h"
#include "WireBudget.h"

#include <iomanip>

// Of a set of repetitions, only the median is shown and kept where it is
// among the runs: on a shared machine it is the figure least moved by other
// work.
void WireTimeReporter::ReportRuns(const std::vector<Run>& runs) {
    std::vector<Run> shown;
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
            shown.assign(1, run);
    }
    if (shown.empty())
        shown = runs;
    ConsoleReporter::ReportRuns(shown);

    for (const Run& run : shown) {
        if (run.error_occurred)
            continue;
        const double to_ns = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        Keep(run.run_name.str(),
             {run.GetAdjustedRealTime() * to_ns, run.GetAdjustedCPUTime() * to_ns});
    }
}

// Repetitions and their median arrive one after the other under one name;
// the last one, the median, is the one kept.
void WireTimeReporter::Keep(const std::string& name, const Times& times) {
    for (auto& kept : times_) {
        if (kept.first == name) {
            kept.second = times;
            return;
        }
    }
    times_.emplace_back(name, times);
}

double WireTimeReporter::ExchangeSeconds(int baud) {
    LineSettings line;
    line.baud = baud;
    return WireBudget(line, kReadRequestLength, QVT7702::kAnswerLength).PollSeconds();
}

// The share is taken from the real time, which on a busy machine also holds
// the time the benchmark spent waiting for the processor: the larger figure.
void WireTimeReporter::PrintWireShare(std::ostream& out, const std::string& prefix,
                                      int baud) const {
    const double exchange_ns = ExchangeSeconds(baud) * 1e9;
    out << "\nOne exchange at " << baud << " baud occupies the line for " << std::fixed
        << std::setprecision(2) << exchange_ns / 1e6 << " ms. A completed round costs:\n";
    for (const auto& [name, times] : times_) {
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        out << "  " << std::left << std::setw(40) << name << std::right << std::setprecision(1)
            << std::setw(8) << times.real_ns << " ns (CPU " << std::setw(6) << times.cpu_ns
            << " ns) = " << std::setprecision(5) << 100.0 * times.real_ns / exchange_ns
            << " % of the exchange\n";
    }
    out.unsetf(std::ios::floatfield | std::ios::adjustfield);
}
