#include "CampaignPlan.h"

#include "BenchOptions.h"
#include "StationAddress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

// Draws from the standard's own engine, whose sequence every library
// gives alike, so a seed means the same plan everywhere.
class Draw {
public:
    explicit Draw(std::uint64_t seed) : engine_(seed) {}

    // 0 .. n - 1.
    std::uint64_t Below(std::uint64_t n) { return engine_() % n; }
    int Between(int lowest, int highest) {
        return highest <= lowest ? lowest
                                 : lowest + static_cast<int>(Below(static_cast<std::uint64_t>(
                                                highest - lowest + 1)));
    }
    double Unit() { return static_cast<double>(engine_() >> 11) / 9007199254740992.0; }
    bool Chance(double p) { return Unit() < p; }
    template <typename T>
    const T& OneOf(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

private:
    std::mt19937_64 engine_;
};

// Stations of the shipped examples: data id 1200 + station.
constexpr std::uint8_t kExampleStations[] = {1, 2, 3};
constexpr std::uint32_t kExampleDataIdBase = 1200;
// The campaign's own meters: data id 3000 + station.
constexpr std::uint32_t kOwnDataIdBase = 3000;

std::string ExampleFile(const std::string& examples, std::uint8_t station) {
    const std::string suffix = station == 1 ? "" : "-station" + std::to_string(station);
    return examples + "/qvt7702-settings" + suffix + ".json";
}

CampaignMeter ExampleMeter(const std::string& examples, std::uint8_t station) {
    return CampaignMeter{station, kExampleDataIdBase + station, ExampleFile(examples, station)};
}

CampaignMeter OwnMeter(std::uint8_t station) {
    return CampaignMeter{station, kOwnDataIdBase + station, ""};
}

std::vector<CampaignMeter> DrawMeters(Draw& draw, const std::string& examples) {
    const std::size_t count = 1 + draw.Below(3);
    std::vector<CampaignMeter> meters;
    if (draw.Chance(0.5)) {
        std::vector<std::uint8_t> stations(std::begin(kExampleStations), std::end(kExampleStations));
        for (std::size_t i = stations.size(); i > 1; --i)
            std::swap(stations[i - 1], stations[draw.Below(i)]);
        for (std::size_t i = 0; i < count; ++i)
            meters.push_back(ExampleMeter(examples, stations[i]));
        return meters;
    }
    std::set<int> taken;
    while (meters.size() < count) {
        // Neighbours now and then, so that a neighbour's answer finds its meter.
        const int highest = static_cast<int>(StationAddress::kHighest);
        const int station = !meters.empty() && draw.Chance(0.3)
                                ? meters.back().station % highest + 1
                                : draw.Between(StationAddress::kLowest, highest);
        if (taken.insert(station).second)
            meters.push_back(OwnMeter(static_cast<std::uint8_t>(station)));
    }
    return meters;
}

void DrawLine(Draw& draw, CampaignPlan& plan) {
    if (draw.Chance(0.08))
        plan.line.Set(LineFault::kStray, draw.Between(1, 2));
    if (draw.Chance(0.05))
        plan.line.Set(LineFault::kBabble, draw.OneOf(std::vector<int>{100, 150, 250, 400}));
    if (draw.Chance(0.15))
        plan.line.Set(LineFault::kBursts, draw.Chance(0.5) ? 16 : draw.Between(1, 40));
    if (draw.Chance(0.15))
        plan.line.Set(LineFault::kDelay, draw.Chance(0.5) ? 30 : draw.Between(5, 60));
}

// Timeout, late limit and lateness: the answer fits the timeout with room
// to spare, through the line's delay and bursts; a late answer comes after
// the timeout and within the late limit, past it, or (rarely) in time.
void DrawTiming(Draw& draw, CampaignPlan& plan) {
    const int shortest = static_cast<int>(std::ceil(kAnswerMs)) + 25 +
                         static_cast<int>(plan.line.TransportDelay().count()) +
                         static_cast<int>(plan.line.BurstPeriod().count());
    plan.timeout_ms = draw.Between(shortest, std::max(shortest + 20, 220));
    plan.late_limit_ms = draw.Chance(0.5) ? 0 : draw.Between(plan.timeout_ms, 4 * plan.timeout_ms);
    const int limit = plan.LateLimitMs();
    const double choice = draw.Unit();
    if (choice < 0.1)
        plan.sim_late_ms = draw.Between(0, std::max(0, plan.timeout_ms - shortest));
    else if (choice < 0.6 && limit - 100 > plan.timeout_ms + 30)
        plan.sim_late_ms = draw.Between(plan.timeout_ms + 30, limit - 100);
    else
        plan.sim_late_ms = draw.Between(limit + 50, 2 * limit + 300);
}

// A copy that far behind its answer lands where the next request's answer
// would be: past the record's confirmation at full pace.
constexpr int kLongestCopyGapCharacters = 120;

// Load may hold the meter's thread up by this much, never bring a byte in
// earlier.
constexpr double kLoadMarginMs = 40;

// Kinds that leave a request without any answer of its own.
bool SendsNothingOfItsOwn(MeterFault kind) {
    return kind == MeterFault::kSilent || kind == MeterFault::kLate || kind == MeterFault::kBusy;
}

// A late answer past the late limit that lands in a later exchange of its
// own meter, which draws nothing of its own, is taken as that request's
// answer: a Modbus answer names no request, so no host can tell (the
// exception the bench host's page names). Plans leave that out: no request
// of the station within the late limits the answer may pass sends nothing
// of its own.
bool HidesALateAnswer(const CampaignPlan& plan, const PlannedFault& candidate) {
    if (!plan.LateMayPassLimit())
        return false;
    const std::uint32_t reach = static_cast<std::uint32_t>(plan.LateLimitsPassed()) + 2;
    const bool candidate_late = candidate.kind == MeterFault::kLate;
    const bool candidate_quiet = SendsNothingOfItsOwn(candidate.kind);
    if (!candidate_quiet)
        return false;
    for (const PlannedFault& fault : plan.faults) {
        if (fault.station != candidate.station)
            continue;
        const bool late = fault.kind == MeterFault::kLate;
        const bool quiet = SendsNothingOfItsOwn(fault.kind);
        if (fault.request == 0 || candidate.request == 0) {
            if ((late && candidate_quiet) || (candidate_late && quiet))
                return true;
            continue;
        }
        if (late && candidate.request > fault.request && candidate.request - fault.request <= reach)
            return true;
        if (candidate_late && quiet && fault.request > candidate.request &&
            fault.request - candidate.request <= reach)
            return true;
    }
    return false;
}

// A copy of an answer, or a neighbour's answer, more than a few characters
// after the answer before it may land in a later exchange. When that is the
// next exchange of the station the frame names, and its request draws
// nothing of its own, the frame comes when that request's answer would and
// is taken for it: the other case no host can tell (the bench host's page
// names it). Plans leave such a frame's fault out.
bool HidesAFollowingFrame(const CampaignPlan& plan, const FaultPlan& faults,
                          const PlannedFault& fault) {
    if (plan.copy_gap <= kFollowingGapCharacters ||
        (fault.kind != MeterFault::kTwice && fault.kind != MeterFault::kNeighbour))
        return false;
    const std::uint8_t sender =
        fault.kind == MeterFault::kTwice ? fault.station : StationAddress::Next(fault.station);
    const auto index_of = [&plan](std::uint8_t station) {
        std::size_t i = 0;
        while (i < plan.meters.size() && plan.meters[i].station != station)
            ++i;
        return i;
    };
    const std::size_t own = index_of(fault.station);
    const std::size_t polled = index_of(sender);
    if (polled == plan.meters.size())
        return false;  // no meter of the line answers to that station
    const bool is_default = polled == 0;
    const std::uint32_t first = fault.request == 0 ? 1 : fault.request;
    const std::uint32_t last = fault.request == 0 ? plan.rounds : fault.request;
    for (std::uint32_t request = first; request <= last; ++request) {
        // The sender's next exchange: later in this round, or in the next.
        const std::uint32_t next_request = polled > own ? request : request + 1;
        if (next_request <= plan.rounds &&
            SendsNothingOfItsOwn(faults.At(sender, next_request, is_default)))
            return true;
    }
    return false;
}

void LeaveOutHiddenFrames(CampaignPlan& plan) {
    const FaultPlan faults = plan.Faults();
    std::vector<PlannedFault> kept;
    for (const PlannedFault& fault : plan.faults)
        if (!HidesAFollowingFrame(plan, faults, fault))
            kept.push_back(fault);
    plan.faults = std::move(kept);
}

// Kinds a whole station may carry without making the run crawl from one
// late limit to the next.
bool FitsEveryRequest(MeterFault kind) {
    switch (kind) {
    case MeterFault::kBusy:
    case MeterFault::kTwice:
    case MeterFault::kNeighbour:
    case MeterFault::kExtra:
    case MeterFault::kCorrupt:
    case MeterFault::kWrongStation:
    case MeterFault::kNoise:
        return true;
    default:
        return false;
    }
}

void DrawFaults(Draw& draw, CampaignPlan& plan) {
    std::vector<MeterFault> kinds;
    for (MeterFault kind : FaultPlan::Kinds())
        if (kind != MeterFault::kBadEcho || plan.echo)
            kinds.push_back(kind);
    const std::size_t wanted = draw.Below(21);
    FaultPlan taken;
    for (int attempt = 0; attempt < 200 && plan.faults.size() < wanted; ++attempt) {
        PlannedFault fault;
        fault.kind = draw.OneOf(kinds);
        const CampaignMeter& meter = draw.OneOf(plan.meters);
        fault.station = meter.station;
        fault.request = FitsEveryRequest(fault.kind) && draw.Chance(0.06)
                            ? 0
                            : static_cast<std::uint32_t>(
                                  draw.Between(1, static_cast<int>(plan.rounds)));
        fault.with_station = meter.station != plan.meters.front().station || draw.Chance(0.5);
        if (HidesALateAnswer(plan, fault))
            continue;
        FaultPlan trial = taken;
        try {
            trial.Add(fault.Text());
            trial.SetDefaultStation(plan.meters.front().station);
        } catch (const std::invalid_argument&) {
            continue;  // a second fault for a request
        }
        taken = trial;
        plan.faults.push_back(fault);
    }
}

}  // namespace

CampaignPlan DrawPlan(std::uint64_t seed, const std::string& examples) {
    Draw draw(seed);
    CampaignPlan plan;
    plan.name = "seed " + std::to_string(seed);
    plan.seed = seed;
    plan.meters = DrawMeters(draw, examples);
    // Mostly short runs, now and then a long one.
    const double u = draw.Unit();
    plan.rounds = 4 + static_cast<std::uint32_t>(116 * u * u * u);
    plan.interval_ms = draw.Chance(0.4) ? 0 : draw.Between(0, 100);
    plan.echo = draw.Chance(0.25);
    DrawLine(draw, plan);
    // A line that loses most exchanges waits out the timeout after each.
    if (plan.line.StrayBytes() != 0 || plan.line.BabblePeriod().count() != 0)
        plan.rounds = std::min<std::uint32_t>(plan.rounds, 12);
    DrawTiming(draw, plan);
    DrawFaults(draw, plan);
    // Drawn last, so the rest of a seed's plan is what it always was: a
    // copy or a neighbour's answer from right behind the answer to where
    // the next request's answer would be.
    if (draw.Chance(0.5))
        plan.copy_gap = draw.Between(0, kLongestCopyGapCharacters);
    LeaveOutHiddenFrames(plan);
    return plan;
}

std::vector<CampaignPlan> KnownCases(const std::string& examples) {
    std::vector<CampaignPlan> cases;
    const auto add = [&](const char* name, std::vector<std::uint8_t> stations) -> CampaignPlan& {
        CampaignPlan plan;
        plan.name = name;
        for (std::uint8_t station : stations)
            plan.meters.push_back(ExampleMeter(examples, station));
        plan.rounds = 6;
        plan.interval_ms = 0;
        plan.timeout_ms = 150;
        cases.push_back(plan);
        return cases.back();
    };
    // Station 1's fourth answer, past the late limit, comes while station
    // 1's fifth request is out.
    CampaignPlan& late = add("late-answer-two-meters", {1, 2});
    late.timeout_ms = 500;
    late.sim_late_ms = 2700;
    late.faults.push_back({1, 4, MeterFault::kLate, true});
    // The copy of answer 3 comes right after the next request at full pace.
    CampaignPlan& twice = add("answer-twice-back-to-back", {1});
    twice.rounds = 8;
    twice.faults.push_back({1, 3, MeterFault::kTwice, false});
    // The copy follows the last round's answer: the run must still end.
    CampaignPlan& last = add("answer-twice-in-the-last-round", {1});
    last.rounds = 2;
    last.interval_ms = 500;
    last.faults.push_back({1, 2, MeterFault::kTwice, false});
    // The copy of answer 3 comes after its record was stored, into the
    // next request's exchange, where the answer of that request follows it.
    CampaignPlan& twice_late = add("answer-twice-after-a-long-gap", {1, 2});
    twice_late.copy_gap = 80;
    twice_late.faults.push_back({1, 3, MeterFault::kTwice, true});
    CampaignPlan& twice_line = add("answer-twice-on-a-line", {1, 2, 3});
    twice_line.faults.push_back({2, 3, MeterFault::kTwice, true});
    // Station 2's answer is followed by one of station 3, polled next.
    CampaignPlan& neighbour = add("neighbour-polled-next", {2, 3});
    neighbour.faults.push_back({2, 3, MeterFault::kNeighbour, true});
    CampaignPlan& stray = add("stray-bytes-after-every-answer", {1, 2});
    stray.interval_ms = 50;
    stray.line.Set(LineFault::kStray, 1);
    CampaignPlan& babble = add("babbling-line", {1});
    babble.interval_ms = 50;
    babble.timeout_ms = 120;
    babble.line.Set(LineFault::kBabble, 250);
    CampaignPlan& gateway = add("gateway-and-bursts", {1, 3});
    gateway.rounds = 10;
    gateway.line.Set(LineFault::kDelay, 30);
    gateway.line.Set(LineFault::kBursts, 16);
    gateway.faults.push_back({3, 4, MeterFault::kStandard, true});
    gateway.faults.push_back({1, 6, MeterFault::kException, true});
    return cases;
}

std::string CampaignMeter::SettingsFileName() const {
    return "meter-" + std::to_string(station) + ".json";
}

std::string CampaignMeter::SettingsText() const {
    return "{ \"dataId\": " + std::to_string(data_id) +
           ", \"stationAddress\": " + std::to_string(station) + " }\n";
}

std::string PlannedFault::Text() const {
    std::string text = std::string(FaultPlan::Name(kind)) + "@";
    if (with_station)
        text += std::to_string(station) + ":";
    return text + (request == 0 ? "*" : std::to_string(request));
}

int CampaignPlan::LateLimitMs() const {
    if (late_limit_ms != 0)
        return late_limit_ms;
    return static_cast<int>(
        BenchOptions::DefaultLateLimitMs(static_cast<unsigned long>(timeout_ms)));
}

double CampaignPlan::LateFirstByteMs() const {
    return sim_late_ms + kAnswerMs / 62 + static_cast<double>(line.TransportDelay().count()) +
           static_cast<double>(line.BurstPeriod().count());
}

double CampaignPlan::LateLastByteMs() const {
    return sim_late_ms + kAnswerMs * 58 / 62 + static_cast<double>(line.TransportDelay().count()) +
           static_cast<double>(line.BurstPeriod().count());
}

bool CampaignPlan::LateMayPassLimit() const {
    return LateFirstByteMs() + kLoadMarginMs >= LateLimitMs();
}

// After a request without an answer the bench host sends the next one once
// the late limit has passed and the line has been silent for the timeout
// since the exchange ended: requests go out that far apart while the late
// answer is still to come.
int CampaignPlan::LateLimitsPassed() const {
    if (!LateMayPassLimit())
        return 0;
    const double spacing = std::max(LateLimitMs(), 2 * timeout_ms);
    const double past = LateFirstByteMs() + kLoadMarginMs - spacing;
    return past <= 0 ? 1 : static_cast<int>(std::ceil(past / spacing));
}

FaultPlan CampaignPlan::Faults() const {
    FaultPlan plan;
    for (const PlannedFault& fault : faults)
        plan.Add(fault.Text());
    plan.SetDefaultStation(meters.front().station);
    return plan;
}

std::vector<std::string> CampaignPlan::Arguments(const std::string& folder) const {
    std::vector<std::string> args;
    for (const CampaignMeter& meter : meters)
        args.insert(args.end(), {"--settings", meter.settings_path.empty()
                                                   ? folder + "/" + meter.SettingsFileName()
                                                   : meter.settings_path});
    char interval[16];
    std::snprintf(interval, sizeof interval, "%.3g", interval_ms / 1000.0);
    args.insert(args.end(), {"--rounds", std::to_string(rounds), "--interval", interval,
                             "--timeout", std::to_string(timeout_ms), "--sim-late",
                             std::to_string(sim_late_ms)});
    if (late_limit_ms != 0)
        args.insert(args.end(), {"--late-limit", std::to_string(late_limit_ms)});
    if (copy_gap != kFollowingGapCharacters)
        args.insert(args.end(), {"--sim-copy-gap", std::to_string(copy_gap)});
    if (echo)
        args.insert(args.end(), {"--sim-echo", "--echo"});
    for (const std::string& text : line.Texts())
        args.insert(args.end(), {"--sim-line", text});
    for (const PlannedFault& fault : faults)
        args.insert(args.end(), {"--sim-fault", fault.Text()});
    return args;
}

std::string CampaignPlan::Summary() const {
    std::ostringstream text;
    text << meters.size() << (meters.size() == 1 ? " meter (station " : " meters (stations ");
    for (std::size_t i = 0; i < meters.size(); ++i)
        text << (i == 0 ? "" : ", ") << int{meters[i].station};
    text << "), " << rounds << " rounds, interval " << interval_ms << " ms, timeout " << timeout_ms
         << " ms, late limit " << LateLimitMs() << " ms, late " << sim_late_ms << " ms"
         << (echo ? ", echo" : "");
    if (copy_gap != kFollowingGapCharacters)
        text << ", copy gap " << copy_gap << " characters";
    for (const std::string& fault : line.Texts())
        text << ", line " << fault;
    text << "; " << faults.size() << (faults.size() == 1 ? " fault" : " faults");
    for (const PlannedFault& fault : faults)
        text << ' ' << fault.Text();
    return text.str();
}

// 350: two meters, echo, bursts through a gateway, twelve faults of nine
// kinds; 1122: stray bytes on a line with seven kinds; 164: a babbling
// line; 37: three meters, twenty faults, late answers past the late limit.
std::vector<std::uint64_t> CoveringSeeds() {
    return {350, 1122, 164, 37};
}
