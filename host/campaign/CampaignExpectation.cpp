#include "CampaignExpectation.h"

#include <algorithm>

namespace {

// The answer timeout and a late answer, with the load's margin.
constexpr double kMarginMs = 15;

// A late answer: lost when it cannot be complete within the timeout; its
// reason known when its first byte comes after the timeout and surely
// while the line waits out the late limit (late), or well before the
// timeout (short).
FaultCost LateCost(const CampaignPlan& plan) {
    FaultCost cost;
    const double timeout = plan.timeout_ms;
    cost.must_lose = plan.LateLastByteMs() > timeout + kMarginMs;
    if (plan.LateFirstByteMs() > timeout + kMarginMs && !plan.LateMayPassLimit())
        cost.reason = "late";
    else if (cost.must_lose && plan.LateFirstByteMs() + kMarginMs < timeout)
        cost.reason = "short";
    cost.reach = plan.LateLimitsPassed();
    cost.most_lost = 1 + cost.reach;
    return cost;
}

FaultCost Cost(bool must_lose, const char* reason, int reach) {
    FaultCost cost;
    cost.must_lose = must_lose;
    cost.reason = reason;
    cost.reach = reach;
    cost.most_lost = 1 + reach;
    return cost;
}

}  // namespace

FaultCost CostOf(MeterFault kind, const CampaignPlan& plan) {
    switch (kind) {
    case MeterFault::kSilent:
        return Cost(true, "no_answer", 0);
    case MeterFault::kShort:
        return Cost(true, "short", 0);
    case MeterFault::kStandard:  // 47 bytes, where the driver takes 58
        return Cost(true, "standard_form", 0);
    case MeterFault::kException:
        return Cost(true, "exception", 0);
    case MeterFault::kExtra:  // lost when a chunk runs past the answer
        return Cost(false, "", 0);
    case MeterFault::kNoise:
        return Cost(true, "noise", 0);
    case MeterFault::kLate:
        return LateCost(plan);
    case MeterFault::kWrongStation:
        return Cost(true, "wrong_station", 0);
    case MeterFault::kBadEcho:
        return Cost(true, "echo_mismatch", 0);
    case MeterFault::kCorrupt:
        return Cost(true, "bad_checksum", 0);
    case MeterFault::kTwice:
    case MeterFault::kNeighbour:
        return Cost(false, "", 1);
    case MeterFault::kBusy:  // costs only a request that comes while answering
        return Cost(false, "", 0);
    case MeterFault::kNone:
        break;
    }
    return Cost(false, "", 0);
}

Expectation Expect(const CampaignPlan& plan) {
    Expectation expected;
    const std::size_t meters = plan.meters.size();
    // Exchange k of station i is number (k - 1) * meters + i on the line.
    const auto position = [&](std::uint8_t station, std::uint32_t request) {
        std::size_t i = 0;
        while (i < meters && plan.meters[i].station != station)
            ++i;
        return static_cast<std::int64_t>((request - 1) * meters + i);
    };

    struct Hit {
        std::int64_t at;
        Exchange exchange;
        FaultCost cost;
    };
    std::vector<Hit> hits;
    const FaultPlan faults = plan.Faults();
    for (const CampaignMeter& meter : plan.meters)
        for (std::uint32_t request = 1; request <= plan.rounds; ++request) {
            const MeterFault kind =
                faults.At(meter.station, request, meter.station == plan.meters.front().station);
            if (kind != MeterFault::kNone)
                hits.push_back({position(meter.station, request), {meter.station, request},
                                CostOf(kind, plan)});
        }

    // Stray bytes that cannot begin a frame cost nothing; a babbling
    // device's byte costs whichever exchange it lands in.
    expected.any_may_be_lost = plan.line.BabblePeriod().count() != 0;
    expected.may_stall = plan.line.BabblePeriod().count() != 0 &&
                         plan.line.BabblePeriod().count() <= plan.timeout_ms + kMarginMs;
    for (const Hit& hit : hits) {
        expected.most_lost += static_cast<std::uint64_t>(hit.cost.most_lost);
        if (hit.cost.must_lose)
            expected.must_lose.insert(hit.exchange);
    }
    // A reason holds for a fault alone in its stretch of the line: no
    // earlier fault's bytes may reach its exchange, and no bytes of the
    // line's own are added to its answer.
    if (expected.any_may_be_lost || plan.line.StrayBytes() != 0)
        return expected;
    for (const Hit& hit : hits) {
        if (!hit.cost.must_lose || hit.cost.reason.empty())
            continue;
        const bool reached = std::any_of(hits.begin(), hits.end(), [&](const Hit& other) {
            // A whole round further for each exchange the bytes may reach,
            // as the meter answers its queued requests behind them.
            const std::int64_t window =
                other.cost.reach == 0 ? 0
                                      : static_cast<std::int64_t>(meters) * (other.cost.reach + 1) + 1;
            return other.at < hit.at && hit.at - other.at <= window;
        });
        // The run ends with its last exchange: a late answer to it comes
        // after the run and leaves the loss counted as no answer.
        const bool last = hit.at == static_cast<std::int64_t>(plan.rounds * meters) - 1;
        if (!reached)
            ++expected.least_by_reason[last && hit.cost.reason == "late" ? "no_answer"
                                                                          : hit.cost.reason];
    }
    return expected;
}
