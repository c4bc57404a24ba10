#pragma once

#include "LossReason.h"
#include "MeterKey.h"
#include "PollTally.h"
#include "StatisticsReport.h"
#include "WireBudget.h"

#include <chrono>
#include <optional>
#include <vector>

// Counts a run's exchanges per meter and for the line, the way a line
// analyser does: what went out, what came back, how long it took, why the
// rest was lost and how much of the line's capacity the polling used.
//
// The round loop tells it each request and how each exchange ended; one
// exchange is open on a line at a time. A round's response time runs from
// the request's last byte to the answer's last byte, so the caller gives
// both instants as they were on the line, not when it noticed them.
// The run is timed from the first request's first byte to Finish().
class PollStatistics {
public:
    using Clock = std::chrono::steady_clock;

    explicit PollStatistics(const WireBudget& budget);

    // Lists a meter before its first request, so that a meter that was never
    // polled (the run stopped first) still gets its column.
    void AddMeter(const MeterKey& meter);

    void RequestSent(const MeterKey& meter, Clock::time_point request_end);
    void RoundCompleted(const MeterKey& meter, Clock::time_point answer_end);
    // A round completed whose request ended at `request_end`: its record may
    // be settled after the next request went out.
    void RoundCompleted(const MeterKey& meter, Clock::time_point request_end,
                        Clock::time_point answer_end);
    void RoundLost(const MeterKey& meter, LossReason reason);
    // A round lost as `from` was one of `to` after all: a loss without an
    // answer whose answer then came late.
    void LossRenamed(const MeterKey& meter, LossReason from, LossReason to);
    // A stop signal cut the exchange short: not counted as completed or lost.
    void ExchangeStopped(const MeterKey& meter);
    // Ends the run's time; figures asked for before it cover no time.
    void Finish(Clock::time_point now);

    StatisticsReport Report() const;

private:
    struct MeterEntry {
        MeterKey key;
        PollTally tally;
        std::optional<Clock::time_point> open_request_end;  // of the exchange open
    };

    MeterEntry& Entry(const MeterKey& meter);
    double RunSeconds() const;

    WireBudget budget_;
    std::vector<MeterEntry> meters_;  // a line carries a few; found by a linear search
    PollTally line_;
    std::optional<Clock::time_point> run_start_;  // the first request's first byte
    std::optional<Clock::time_point> finished_;
};
