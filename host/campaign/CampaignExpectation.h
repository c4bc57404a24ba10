#pragma once

#include "CampaignPlan.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

// What a fault costs the bench host at most, as docs/bench-host.md states
// it: the exchange it hits, and for an answer later than the late limit
// one more exchange for each further late limit; an answer followed by
// another frame (twice, neighbour) its own and the next exchange.
struct FaultCost {
    bool must_lose = false;  // its own exchange can never complete
    int most_lost = 0;       // exchanges it may cost in all, its own one included
    // The loss reason (the statistics JSON's key) it is counted under when
    // nothing else touches its exchange; empty when that depends on timing.
    std::string reason;
    // Later exchanges its bytes may still reach.
    int reach = 0;
};

FaultCost CostOf(MeterFault kind, const CampaignPlan& plan);

// (station, request): one exchange of the run.
using Exchange = std::pair<std::uint8_t, std::uint32_t>;

// What every run of a plan must show.
struct Expectation {
    // Exchanges that can never complete.
    std::set<Exchange> must_lose;
    // Lost exchanges counted under a reason, at least.
    std::map<std::string, int> least_by_reason;
    // Lost exchanges at most, unless `any_may_be_lost`.
    std::uint64_t most_lost = 0;
    // A babbling device, whose bytes may cost any exchange.
    bool any_may_be_lost = false;
    // A babbling device that leaves the line never silent for the answer
    // timeout: a host in doubt waits for that silence, so the run may stop
    // only when the campaign stops it.
    bool may_stall = false;
};

Expectation Expect(const CampaignPlan& plan);
