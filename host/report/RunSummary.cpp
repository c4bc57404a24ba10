#include "RunSummary.h"

#include "BenchError.h"
#include "StatisticsJson.h"
#include "StatisticsText.h"

#include <iomanip>
#include <iostream>

void WriteRunSummary(std::ostream& out, const RunCounts& counts) {
    // One meter: every exchange is a round. Several: the rounds begun.
    const std::uint64_t rounds =
        counts.meters == 1 ? counts.completed + counts.lost : counts.rounds_begun;
    out << counts.ending << ": " << rounds << (rounds == 1 ? " round" : " rounds");
    if (counts.meters > 1)
        out << " of " << counts.meters << " meters";
    out << ", " << counts.completed << " completed, " << counts.lost << " lost";
    if (counts.cut_round != 0)
        out << ", round " << counts.cut_round << " cut short";
    out << "; " << counts.published << " records published, " << counts.stored
        << " stored in " << counts.history_path;
    if (counts.not_stored != 0)
        out << ", " << counts.not_stored << " not stored";
    if (counts.dropped_bytes != 0)
        out << "; " << counts.dropped_bytes << " bytes outside an exchange dropped";
    if (!counts.checksum_checked)
        out << "; checksums not checked";
    out << std::endl;
}

void WriteRunStatistics(std::ostream& text, const StatisticsReport& report,
                        const std::string& json_path, bool failed) {
    WriteStatisticsText(text, report);
    if (report.outages != 0)
        text << "line gone " << report.outages << (report.outages == 1 ? " time, " : " times, ")
             << std::fixed << std::setprecision(1) << report.outage_seconds << std::defaultfloat
             << " s in all\n";
    text.flush();
    if (json_path.empty())
        return;
    try {
        WriteStatisticsJsonFile(json_path, report);
    } catch (const BenchError& failure) {
        if (!failed)
            throw;
        std::cerr << "bench_host: " << failure.what() << std::endl;
    }
}
