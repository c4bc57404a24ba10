#include "PollStatistics.h"

#include <algorithm>

PollStatistics::PollStatistics(const WireBudget& budget) : budget_(budget) {}

void PollStatistics::AddMeter(const MeterKey& meter) {
    Entry(meter);
}

PollStatistics::MeterEntry& PollStatistics::Entry(const MeterKey& meter) {
    auto found = std::find_if(meters_.begin(), meters_.end(),
                              [&meter](const MeterEntry& entry) { return entry.key == meter; });
    if (found != meters_.end())
        return *found;
    meters_.push_back(MeterEntry{meter, PollTally(), std::nullopt});
    return meters_.back();
}

void PollStatistics::RequestSent(const MeterKey& meter, Clock::time_point request_end) {
    if (!run_start_)
        run_start_ = request_end - std::chrono::duration_cast<Clock::duration>(
                                           budget_.RequestTime());
    MeterEntry& entry = Entry(meter);
    entry.tally.Sent();
    entry.open_request_end = request_end;
    line_.Sent();
}

// A completion without a request of its own (a stored record reloaded)
// counts as a completed round with no response time.
void PollStatistics::RoundCompleted(const MeterKey& meter, Clock::time_point answer_end) {
    MeterEntry& entry = Entry(meter);
    entry.tally.Completed();
    line_.Completed();
    if (entry.open_request_end) {
        const ResponseTimeHistogram::Duration response = answer_end - *entry.open_request_end;
        entry.tally.AddResponseTime(response);
        line_.AddResponseTime(response);
        entry.open_request_end.reset();
    }
}

void PollStatistics::RoundCompleted(const MeterKey& meter, Clock::time_point request_end,
                                    Clock::time_point answer_end) {
    MeterEntry& entry = Entry(meter);
    entry.tally.Completed();
    line_.Completed();
    const ResponseTimeHistogram::Duration response = answer_end - request_end;
    entry.tally.AddResponseTime(response);
    line_.AddResponseTime(response);
    if (entry.open_request_end == request_end)
        entry.open_request_end.reset();
}

void PollStatistics::RoundLost(const MeterKey& meter, LossReason reason) {
    MeterEntry& entry = Entry(meter);
    entry.tally.Lost(reason);
    entry.open_request_end.reset();
    line_.Lost(reason);
}

void PollStatistics::LossRenamed(const MeterKey& meter, LossReason from, LossReason to) {
    Entry(meter).tally.Renamed(from, to);
    line_.Renamed(from, to);
}

void PollStatistics::ExchangeStopped(const MeterKey& meter) {
    MeterEntry& entry = Entry(meter);
    entry.tally.Stopped();
    entry.open_request_end.reset();
    line_.Stopped();
}

void PollStatistics::Finish(Clock::time_point now) {
    finished_ = now;
}

double PollStatistics::RunSeconds() const {
    if (!run_start_ || !finished_ || *finished_ <= *run_start_)
        return 0.0;
    return std::chrono::duration<double>(*finished_ - *run_start_).count();
}

StatisticsReport PollStatistics::Report() const {
    StatisticsReport report;
    report.line = budget_.Line();
    report.poll_ms = budget_.PollSeconds() * 1e3;
    report.wire_limit_polls_per_second = budget_.PollsPerSecond();
    report.run_seconds = RunSeconds();
    for (const MeterEntry& entry : meters_)
        report.meters.emplace_back(
            entry.key, entry.tally.Figures(report.run_seconds, report.wire_limit_polls_per_second));
    report.line_total = line_.Figures(report.run_seconds, report.wire_limit_polls_per_second);
    return report;
}
