#pragma once

#include "LossReason.h"
#include "PollFigures.h"
#include "ResponseTimeHistogram.h"

#include <array>
#include <cstdint>

// The running counts behind one PollFigures: of one meter, or of a line.
class PollTally {
public:
    void Sent() { ++sent_; }
    void Completed() { ++completed_; }
    void AddResponseTime(ResponseTimeHistogram::Duration time) { response_times_.Add(time); }
    void Lost(LossReason reason) { ++lost_[static_cast<std::size_t>(reason)]; }
    // A loss counted under `from` found to be one of `to`.
    void Renamed(LossReason from, LossReason to) {
        std::uint64_t& counted = lost_[static_cast<std::size_t>(from)];
        if (counted == 0)
            return;
        --counted;
        Lost(to);
    }
    void Stopped() { ++stopped_; }

    // The figures over a run of `run_seconds` on a line that carries
    // `wire_limit` polls per second.
    PollFigures Figures(double run_seconds, double wire_limit) const;

private:
    std::uint64_t sent_ = 0;
    std::uint64_t completed_ = 0;
    std::array<std::uint64_t, kLossReasonCount> lost_{};
    std::uint64_t stopped_ = 0;
    ResponseTimeHistogram response_times_;
};
