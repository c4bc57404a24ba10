#pragma once

#include "LossReason.h"

#include <array>
#include <cstdint>
#include <optional>

// Response time, from the request's last byte to the answer's last byte,
// of the completed rounds.
struct ResponseFigures {
    double min_ms = 0.0;
    double mean_ms = 0.0;
    double p95_ms = 0.0;  // nearest rank, see ResponseTimeHistogram
    double max_ms = 0.0;
};

// The figures of one meter, or of the whole line, over a run.
struct PollFigures {
    std::uint64_t requests_sent = 0;
    std::uint64_t rounds_completed = 0;
    std::uint64_t rounds_lost = 0;
    std::array<std::uint64_t, kLossReasonCount> lost_by_reason{};  // in kLossReasons' order
    // Exchanges a stop signal cut short: neither completed nor lost.
    std::uint64_t exchanges_stopped = 0;
    // Lost rounds of the completed and lost ones.
    double loss_percent = 0.0;
    std::optional<ResponseFigures> response;  // none without a completed round
    // Requests sent per second of the run.
    double polls_per_second = 0.0;
    // polls_per_second against the line's wire limit.
    double line_use_percent = 0.0;

    std::uint64_t LostFor(LossReason reason) const {
        return lost_by_reason[static_cast<std::size_t>(reason)];
    }
};
