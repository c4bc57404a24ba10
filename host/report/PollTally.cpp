#include "PollTally.h"

#include <numeric>

namespace {

double Milliseconds(ResponseTimeHistogram::Duration time) {
    return time.count() / 1e3;
}

double Percent(double part, double whole) {
    return whole > 0.0 ? 100.0 * part / whole : 0.0;
}

}  // namespace

PollFigures PollTally::Figures(double run_seconds, double wire_limit) const {
    PollFigures figures;
    figures.requests_sent = sent_;
    figures.rounds_completed = completed_;
    figures.lost_by_reason = lost_;
    figures.rounds_lost = std::accumulate(lost_.begin(), lost_.end(), std::uint64_t{0});
    figures.exchanges_stopped = stopped_;
    figures.loss_percent = Percent(static_cast<double>(figures.rounds_lost),
                                   static_cast<double>(figures.rounds_lost + completed_));
    if (response_times_.Count() != 0) {
        figures.response = ResponseFigures{
            Milliseconds(response_times_.Min()), Milliseconds(response_times_.Mean()),
            Milliseconds(response_times_.Percentile(95)), Milliseconds(response_times_.Max())};
    }
    figures.polls_per_second = run_seconds > 0.0 ? static_cast<double>(sent_) / run_seconds : 0.0;
    figures.line_use_percent = Percent(figures.polls_per_second, wire_limit);
    return figures;
}
