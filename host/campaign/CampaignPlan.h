#pragma once

#include "FaultPlan.h"
#include "LineFaults.h"

#include <cstdint>
#include <string>
#include <vector>

// One meter of a campaign's line.
struct CampaignMeter {
    std::uint8_t station = 1;
    std::uint32_t data_id = 0;
    // An example's settings file, or empty for one the campaign writes into
    // the run's folder (SettingsFileName()).
    std::string settings_path;

    std::string SettingsFileName() const;
    // The settings file's text for a meter without an example.
    std::string SettingsText() const;
};

// One fault of a plan, as --sim-fault names it.
struct PlannedFault {
    std::uint8_t station = 1;
    std::uint32_t request = 1;  // 0: every request of the station
    MeterFault kind = MeterFault::kNone;
    bool with_station = true;  // false: named without it, as the first meter's

    std::string Text() const;
};

// Everything one bench host run of the campaign is given.
struct CampaignPlan {
    std::string name;  // "seed 17", or a known case's name
    std::uint64_t seed = 0;
    std::vector<CampaignMeter> meters;
    std::uint32_t rounds = 10;
    int interval_ms = 0;
    int timeout_ms = 150;
    int late_limit_ms = 0;  // 0: the bench host's default
    int sim_late_ms = static_cast<int>(FaultPlan::kDefaultLateDelay.count());
    bool echo = false;  // --sim-echo and --echo
    int copy_gap = kFollowingGapCharacters;  // --sim-copy-gap, in characters
    std::vector<PlannedFault> faults;
    LineFaults line;

    // The late limit the bench host keeps: four timeouts when not given.
    int LateLimitMs() const;
    // When a late answer's first byte and last byte reach the host, in ms
    // after its request has left, at the latest the line allows without
    // load: the lateness, the gateway's delay and a burst's hold.
    double LateFirstByteMs() const;
    double LateLastByteMs() const;
    // A late answer may come after the late limit (the machine's load only
    // makes it later), into later exchanges: how many of them at most.
    bool LateMayPassLimit() const;
    int LateLimitsPassed() const;
    // The plan's faults as the simulated meter reads them.
    FaultPlan Faults() const;
    // bench_host's options for the plan, the settings files in `folder`.
    std::vector<std::string> Arguments(const std::string& folder) const;
    // "2 meters (1, 2), 35 rounds, interval 0.05 s, ..., faults twice@1:3 ...".
    std::string Summary() const;
};

// What the simulated line needs to send one answer, in ms at 9600 8N1:
// the turnaround and 58 bytes.
constexpr double kAnswerMs = 62 * 10 * 1000.0 / 9600;

// The plan of a seed: 1 to 3 meters (the examples' stations or others of
// the campaign's own), up to 120 rounds, up to 20 faults of every kind,
// line faults, interval, timeout, late limit, lateness and echo drawn at
// random, the same on every machine for the same seed. Example settings
// come from `examples`, the folder of the shipped examples.
CampaignPlan DrawPlan(std::uint64_t seed, const std::string& examples);

// Plans of their own: the line's known troubles, each by a name.
std::vector<CampaignPlan> KnownCases(const std::string& examples);

// Seeds whose plans together carry every fault kind and every line fault,
// so that a short run of them tries everything.
std::vector<std::uint64_t> CoveringSeeds();
