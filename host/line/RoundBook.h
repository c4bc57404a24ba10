#pragma once

#include "LossReason.h"
#include "MeterKey.h"
#include "MeterLineup.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

class LineHints;
class PollStatistics;
class RoundTable;

// What the run counts: each ended exchange into the statistics, the
// counters of completed and lost exchanges and the live table's row.
class RoundBook {
public:
    using Clock = std::chrono::steady_clock;
    enum class Outcome { kCompleted, kLost, kStopped };

    // How one exchange ended: all a round's bookkeeping needs.
    struct ExchangeEnd {
        std::size_t meter;
        std::uint64_t round;
        Outcome outcome;
        std::string reason;  // empty for a completed exchange
        bool decoded_but_dropped;
        LossReason loss_reason;  // for a lost exchange
        Clock::time_point request_end;
        Clock::time_point answer_end;  // of a completed one: its last byte's arrival
        std::vector<std::string> details;  // --verbose lines of the exchange
        // The row's values as the meter gave them when the exchange ended:
        // a record confirmed later is shown with its own.
        std::string values;
    };

    RoundBook(const MeterLineup& meters, RoundTable& table, PollStatistics& statistics,
              LineHints& hints, std::ostream& out)
        : meters_(meters), table_(table), statistics_(statistics), hints_(hints), out_(out) {}

    static MeterKey KeyOf(const MeterLineup::Meter& meter) {
        return MeterKey{meter.station, meter.data_id};
    }

    // The counters, the statistics, the table's row for the meter, the details.
    void Record(const ExchangeEnd& end);
    // The row of a record handed back from the history.
    void CacheRow(const MeterLineup::Meter& meter, const std::string& note);
    // An exchange a failure cut short, without a row.
    void CutShort(std::size_t meter, std::uint64_t round);
    void ShowDetails(const std::vector<std::string>& details);

    std::uint64_t Completed() const { return completed_; }
    std::uint64_t Lost() const { return lost_; }
    std::uint64_t CutRound() const { return cut_round_; }

private:
    void CountForStatistics(const ExchangeEnd& end);

    const MeterLineup& meters_;
    RoundTable& table_;
    PollStatistics& statistics_;
    LineHints& hints_;
    std::ostream& out_;
    std::uint64_t completed_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t cut_round_ = 0;
    // Meters whose driver holds an answer the host dropped, until a round
    // of theirs completes: no row shows those values.
    std::set<std::size_t> holding_dropped_;
};
