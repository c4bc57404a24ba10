// The campaign's own parts without a bench host: the plans it draws, what
// it expects of them, and how it judges what a run left.
#include "BenchOptions.h"
#include "CampaignCheck.h"
#include "CampaignExpectation.h"
#include "CampaignPlan.h"
#include "SimulatedReadings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

namespace {

constexpr std::uint64_t kSeeds = 400;

bool SendsNothingOfItsOwn(MeterFault kind) {
    return kind == MeterFault::kSilent || kind == MeterFault::kLate || kind == MeterFault::kBusy;
}

// Every plan is one the bench host takes as it is, within the campaign's
// limits, the same for the same seed.
TEST(CampaignPlanTest, EverySeedDrawsAPlanTheBenchHostTakes) {
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        const CampaignPlan plan = DrawPlan(seed, "examples");
        SCOPED_TRACE(plan.name + ": " + plan.Summary());
        EXPECT_EQ(plan.Summary(), DrawPlan(seed, "examples").Summary());
        ASSERT_GE(plan.meters.size(), 1u);
        ASSERT_LE(plan.meters.size(), 3u);
        std::set<int> stations;
        std::set<std::uint32_t> data_ids;
        for (const CampaignMeter& meter : plan.meters) {
            stations.insert(meter.station);
            data_ids.insert(meter.data_id);
        }
        EXPECT_EQ(stations.size(), plan.meters.size());
        EXPECT_EQ(data_ids.size(), plan.meters.size());
        EXPECT_GE(plan.rounds, 4u);
        EXPECT_LE(plan.rounds, 120u);
        EXPECT_LE(plan.faults.size(), 20u);
        EXPECT_LE(plan.interval_ms, 100);
        // An answer fits its timeout through the line's delay and bursts.
        EXPECT_GE(plan.timeout_ms, kAnswerMs + plan.line.TransportDelay().count() +
                                       plan.line.BurstPeriod().count() + 20);
        EXPECT_NO_THROW(plan.Faults()) << "no request gets two faults";

        std::vector<std::string> words = plan.Arguments("/tmp");
        words.insert(words.begin(), "bench_host");
        std::vector<const char*> argv;
        for (const std::string& word : words)
            argv.push_back(word.c_str());
        EXPECT_NO_THROW(BenchOptions::Parse(static_cast<int>(argv.size()), argv.data(), "p.so", "s.json"));

        for (const PlannedFault& fault : plan.faults) {
            EXPECT_TRUE(fault.kind != MeterFault::kBadEcho || plan.echo) << "an echo fault needs an echo";
            // No late answer past the late limit can land in a request of
            // its meter that draws nothing of its own.
            if (fault.kind != MeterFault::kLate || !plan.LateMayPassLimit())
                continue;
            for (const PlannedFault& other : plan.faults)
                if (&other != &fault && other.station == fault.station &&
                    SendsNothingOfItsOwn(other.kind)) {
                    EXPECT_TRUE(other.request != 0 && fault.request != 0 &&
                                (other.request < fault.request ||
                                 other.request - fault.request >
                                     static_cast<std::uint32_t>(plan.LateLimitsPassed()) + 2))
                        << fault.Text() << " then " << other.Text();
                }
        }
    }
}

std::set<std::string> KindsOf(const CampaignPlan& plan) {
    std::set<std::string> kinds;
    for (const PlannedFault& fault : plan.faults)
        kinds.insert(FaultPlan::Name(fault.kind));
    for (const std::string& text : plan.line.Texts())
        kinds.insert(text.substr(0, text.find('=')));
    return kinds;
}

std::set<std::string> EveryKind() {
    std::set<std::string> kinds;
    for (MeterFault kind : FaultPlan::Kinds())
        kinds.insert(FaultPlan::Name(kind));
    for (LineFault fault : {LineFault::kStray, LineFault::kBabble, LineFault::kBursts, LineFault::kDelay})
        kinds.insert(LineFaults::Name(fault));
    return kinds;
}

// The seeds the test suite runs try every kind; so do seeds at random,
// also with a whole station's requests and on one meter and on three.
TEST(CampaignPlanTest, TheCoveringSeedsTryEveryFaultKind) {
    std::set<std::string> covered;
    for (std::uint64_t seed : CoveringSeeds())
        for (const std::string& kind : KindsOf(DrawPlan(seed, "examples")))
            covered.insert(kind);
    EXPECT_EQ(covered, EveryKind());

    std::set<std::string> drawn;
    bool every_request = false;
    std::set<std::size_t> line_sizes;
    for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
        const CampaignPlan plan = DrawPlan(seed, "examples");
        for (const std::string& kind : KindsOf(plan))
            drawn.insert(kind);
        for (const PlannedFault& fault : plan.faults)
            every_request = every_request || fault.request == 0;
        line_sizes.insert(plan.meters.size());
    }
    EXPECT_EQ(drawn, EveryKind());
    EXPECT_TRUE(every_request);
    EXPECT_EQ(line_sizes, (std::set<std::size_t>{1, 2, 3}));
}

CampaignPlan OneMeter(int timeout_ms, int late_limit_ms, int sim_late_ms) {
    CampaignPlan plan;
    plan.meters = {CampaignMeter{1, 1201, "examples/qvt7702-settings.json"}};
    plan.rounds = 10;
    plan.timeout_ms = timeout_ms;
    plan.late_limit_ms = late_limit_ms;
    plan.sim_late_ms = sim_late_ms;
    return plan;
}

// A late answer's cost by its lateness against the timeout and the late
// limit, as the bench host's page states and measures them.
struct LateCost {
    const char* name;
    int timeout_ms, late_limit_ms, sim_late_ms, delay_ms;
    bool must_lose;
    const char* reason;
    int most_lost;
};

TEST(CampaignExpectationTest, ALateAnswerCostsItsExchangeAndOneMoreForEachFurtherLateLimit) {
    const LateCost rows[] = {
        {"in time", 150, 0, 40, 0, false, "", 1},
        {"after the timeout", 150, 600, 250, 0, true, "late", 1},
        {"through the timeout", 150, 600, 120, 0, true, "short", 1},
        {"at the timeout", 150, 600, 145, 0, true, "", 1},
        {"past the late limit", 150, 200, 380, 0, true, "", 2},
        // Measured: 3 rounds; requests go out 300 ms apart, two timeouts.
        {"past two late limits", 150, 200, 800, 0, true, "", 3},
        {"past it through a gateway", 150, 600, 540, 30, true, "", 2},
    };
    for (const LateCost& row : rows) {
        CampaignPlan plan = OneMeter(row.timeout_ms, row.late_limit_ms, row.sim_late_ms);
        if (row.delay_ms != 0)
            plan.line.Set(LineFault::kDelay, row.delay_ms);
        const FaultCost cost = CostOf(MeterFault::kLate, plan);
        EXPECT_EQ(cost.must_lose, row.must_lose) << row.name;
        EXPECT_EQ(cost.reason, row.reason) << row.name;
        EXPECT_EQ(cost.most_lost, row.most_lost) << row.name;
    }
}

// Faults close together: the reason of one that an earlier fault's bytes
// may reach is not counted on; line faults leave every exchange open.
TEST(CampaignExpectationTest, ReasonsAreCountedOnlyForFaultsNothingElseReaches) {
    CampaignPlan plan = OneMeter(150, 600, 250);
    plan.faults = {{1, 2, MeterFault::kCorrupt, true}, {1, 3, MeterFault::kTwice, true},
                   {1, 4, MeterFault::kSilent, true}, {1, 8, MeterFault::kNoise, true},
                   {1, 9, MeterFault::kStandard, true}};
    Expectation expected = Expect(plan);
    EXPECT_EQ(expected.least_by_reason,
              (std::map<std::string, int>{{"bad_checksum", 1}, {"noise", 1}, {"standard_form", 1}}));
    EXPECT_EQ(expected.must_lose, (std::set<Exchange>{{1, 2}, {1, 4}, {1, 8}, {1, 9}}));
    EXPECT_EQ(expected.most_lost, 6u) << "1 each, the repeated answer 2";
    EXPECT_FALSE(expected.any_may_be_lost);

    // Stray bytes cost nothing, but are added to every answer.
    plan.line.Set(LineFault::kStray, 1);
    expected = Expect(plan);
    EXPECT_FALSE(expected.any_may_be_lost);
    EXPECT_TRUE(expected.least_by_reason.empty());
    EXPECT_EQ(expected.must_lose.size(), 4u);
    EXPECT_EQ(expected.most_lost, 6u);
    EXPECT_FALSE(expected.may_stall);

    plan.line = LineFaults();
    plan.line.Set(LineFault::kBabble, 100);
    EXPECT_TRUE(Expect(plan).any_may_be_lost);
    EXPECT_TRUE(Expect(plan).may_stall) << "never 150 ms of silence";
    plan.faults = {{1, 0, MeterFault::kBusy, true}};
    plan.line = LineFaults();
    EXPECT_EQ(Expect(plan).most_lost, 10u) << "every request of the station";
}

// A run made up exchange by exchange, as the bench host would leave it.
class SyntheticRun {
public:
    explicit SyntheticRun(const CampaignPlan& plan) : plan_(plan) {
        run_.statistics = Json::Value(Json::objectValue);
    }

    // Exchange of `station` in `round`: completed with station `from`'s
    // answer number `answer`, or lost for `reason`.
    void Completed(std::uint8_t station, std::uint32_t round, std::uint8_t from, std::uint32_t answer) {
        ++done_;
        Row(round, station, "");
        std::vector<unsigned char> bytes(MeterRecord::kSize, 0);
        const std::uint32_t data_id = DataIdOf(station);
        std::memcpy(bytes.data(), &data_id, 4);
        const SimulatedReadings::Words words = SimulatedReadings::WordsOf(from, answer);
        for (int i = 0; i < MeterRecord::kWordCount; ++i) {
            const float word = words[i];
            std::memcpy(bytes.data() + 4 + 4 * i, &word, 4);
        }
        run_.records.emplace_back(data_id, *MeterRecord::FromBytes(bytes));
        Count(station, "rounds_completed", nullptr);
    }

    void Lost(std::uint8_t station, std::uint32_t round, const char* reason) {
        ++lost_;
        Row(round, station, "lost: for the test");
        Count(station, "rounds_lost", reason);
    }

    RunResult Result() {
        run_.status = 0;
        Json::Value& statistics = *run_.statistics;
        statistics["meters"] = Json::Value(Json::arrayValue);
        Json::Value line(Json::objectValue);
        for (const CampaignMeter& meter : plan_.meters) {
            Json::Value figures = figures_[meter.station];
            figures["station"] = meter.station;
            figures["requests_sent"] = figures["rounds_completed"].asUInt64() +
                                       figures["rounds_lost"].asUInt64();
            statistics["meters"].append(figures);
            for (const char* key : {"rounds_completed", "rounds_lost"})
                line[key] = line[key].asUInt64() + figures[key].asUInt64();
            for (const std::string& reason : figures["lost_by_reason"].getMemberNames())
                line["lost_by_reason"][reason] =
                    line["lost_by_reason"][reason].asUInt64() + figures["lost_by_reason"][reason].asUInt64();
        }
        statistics["line"] = line;
        return run_;
    }

private:
    std::uint32_t DataIdOf(std::uint8_t station) const {
        for (const CampaignMeter& meter : plan_.meters)
            if (meter.station == station)
                return meter.data_id;
        return 0;
    }

    void Row(std::uint32_t round, int station, const std::string& note) {
        std::ostringstream row;
        row << "    " << round << "  20:54:08       " << station
            << "  230.23  231.65  228.39  400.00  398.41  397.18  514.00  522.00     " << done_
            << "     " << lost_ << (note.empty() ? "" : "  " + note) << '\n';
        run_.out += row.str();
    }

    void Count(std::uint8_t station, const char* key, const char* reason) {
        Json::Value& figures = figures_[station];
        figures[key] = figures[key].asUInt64() + 1;
        if (reason != nullptr)
            figures["lost_by_reason"][reason] = figures["lost_by_reason"][reason].asUInt64() + 1;
        else if (!figures.isMember("lost_by_reason"))
            figures["lost_by_reason"] = Json::Value(Json::objectValue);
    }

    const CampaignPlan& plan_;
    RunResult run_;
    std::map<int, Json::Value> figures_;
    int done_ = 0;
    int lost_ = 0;
};

// Two meters, 3 rounds; station 1's second answer is silent.
CampaignPlan TwoMeters() {
    CampaignPlan plan = OneMeter(150, 600, 250);
    plan.meters.push_back(CampaignMeter{2, 1202, "examples/qvt7702-settings-station2.json"});
    plan.rounds = 3;
    plan.faults = {{1, 2, MeterFault::kSilent, false}};
    return plan;
}

struct RunCase {
    const char* name;
    // What went wrong in round 2 of station 1 (silent) and round 3.
    std::function<void(SyntheticRun&)> rounds_two_and_three;
    std::function<void(RunResult&)> afterwards;
    std::vector<Finding::Kind> found;
    std::string text;
};

TEST(CampaignCheckTest, EveryRecordIsItsOwnRequestsAnswerAndTheCountsAgree) {
    const auto as_sent = [](SyntheticRun& run) {
        run.Lost(1, 2, "no_answer");
        run.Completed(2, 2, 2, 2);
        run.Completed(1, 3, 1, 3);
        run.Completed(2, 3, 2, 3);
    };
    const std::vector<RunCase> cases = {
        {"as sent", as_sent, nullptr, {}, ""},
        {"the earlier answer stored",
         [](SyntheticRun& run) {
             run.Lost(1, 2, "no_answer");
             run.Completed(2, 2, 2, 2);
             run.Completed(1, 3, 1, 2);
             run.Completed(2, 3, 2, 3);
         },
         nullptr, {Finding::Kind::kWrongRecord}, "station 1 request 3 stored station 1's answer 2"},
        {"the other meter's answer stored",
         [](SyntheticRun& run) {
             run.Lost(1, 2, "no_answer");
             run.Completed(2, 2, 1, 3);
             run.Completed(1, 3, 1, 3);
             run.Completed(2, 3, 2, 3);
         },
         nullptr, {Finding::Kind::kWrongRecord}, "station 2 request 2 stored station 1's answer 3"},
        {"a neighbour's block stored",
         [](SyntheticRun& run) {
             run.Lost(1, 2, "no_answer");
             run.Completed(2, 2, 2, 1002);
             run.Completed(1, 3, 1, 3);
             run.Completed(2, 3, 2, 3);
         },
         nullptr, {Finding::Kind::kWrongRecord}, "stored station 2's answer 1002"},
        {"a silent request completed",
         [](SyntheticRun& run) {
             run.Completed(1, 2, 1, 2);
             run.Completed(2, 2, 2, 2);
             run.Completed(1, 3, 1, 3);
             run.Completed(2, 3, 2, 3);
         },
         nullptr, {Finding::Kind::kMustLose, Finding::Kind::kReason},
         "station 1 request 2 completed, though its own answer cannot"},
        {"lost for another reason",
         [](SyntheticRun& run) {
             run.Lost(1, 2, "short");
             run.Completed(2, 2, 2, 2);
             run.Completed(1, 3, 1, 3);
             run.Completed(2, 3, 2, 3);
         },
         nullptr, {Finding::Kind::kReason}, "0 exchanges lost for no_answer"},
        {"one more lost than the fault costs",
         [](SyntheticRun& run) {
             run.Lost(1, 2, "no_answer");
             run.Completed(2, 2, 2, 2);
             run.Lost(1, 3, "short");
             run.Completed(2, 3, 2, 3);
         },
         nullptr, {Finding::Kind::kBound}, "2 exchanges lost, the faults may cost 1"},
        {"a record missing", as_sent,
         [](RunResult& run) { run.records.pop_back(); }, {Finding::Kind::kCounts, Finding::Kind::kCounts},
         "station 2: 3 exchanges completed, 2 records stored"},
        {"a damaged history", as_sent, [](RunResult& run) { run.integrity = "database disk image is malformed"; },
         {Finding::Kind::kIntegrity}, "malformed"},
        {"stopped though the line is quiet", as_sent, [](RunResult& run) { run.stopped = true; },
         {Finding::Kind::kRun}, "still polling past its time"},
    };
    const CampaignPlan plan = TwoMeters();
    for (const RunCase& row : cases) {
        SyntheticRun run(plan);
        run.Completed(1, 1, 1, 1);
        run.Completed(2, 1, 2, 1);
        row.rounds_two_and_three(run);
        RunResult result = run.Result();
        if (row.afterwards)
            row.afterwards(result);
        const std::vector<Finding> findings = CheckRun(plan, Expect(plan), result);
        std::vector<Finding::Kind> kinds;
        std::string texts;
        for (const Finding& finding : findings) {
            kinds.push_back(finding.kind);
            texts += finding.text + "\n";
        }
        EXPECT_EQ(kinds, row.found) << row.name << ":\n" << texts;
        EXPECT_NE(texts.find(row.text), std::string::npos) << row.name << ":\n" << texts;
    }
}

}  // namespace
