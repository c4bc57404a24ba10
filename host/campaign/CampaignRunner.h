#pragma once

#include "CampaignCheck.h"
#include "CampaignPlan.h"

#include <chrono>
#include <string>
#include <vector>

// Where the campaign finds the programs it runs.
struct CampaignTools {
    std::string bench_host;
    std::string plugin;
    std::string examples;
};

// One plan run to its end, as often as the machine's load asks for.
struct PlanReport {
    std::vector<Finding> findings;  // of the last attempt
    int attempts = 0;
    std::size_t exchanges = 0;  // rows of the last attempt's table
    std::uint64_t lost = 0;
    std::size_t stored = 0;
    bool stopped = false;
    std::string folder;  // the run's files
    std::vector<std::string> command;  // bench_host and its options
};

// How long a plan's run may take before the campaign stops it: twice
// what its rounds, faults and waits add up to, and 10 s more; for a line
// that may never be quiet, a few seconds past that sum.
std::chrono::milliseconds RunTimeLimit(const CampaignPlan& plan, const Expectation& expected);

// Runs bench_host for the plan in `folder` (made when missing) and checks
// what it left. A run whose only finding is more lost exchanges than the
// faults explain is tried again, up to `attempts` times.
PlanReport RunPlan(const CampaignPlan& plan, const CampaignTools& tools, const std::string& folder,
                   int attempts);
