#pragma once

#include "CampaignExpectation.h"
#include "CampaignPlan.h"
#include "MeterRecord.h"
#include "RunOutput.h"

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What a bench host run of a plan left.
struct RunResult {
    int status = -1;       // the exit status
    bool stopped = false;  // by the campaign, once past its time
    std::string out;
    std::string err;
    std::vector<std::pair<std::uint32_t, MeterRecord>> records;  // (data id, record), as stored
    std::optional<Json::Value> statistics;  // the --stats-json file, when written
    std::string integrity = "ok";  // PRAGMA integrity_check's answer
};

struct Finding {
    enum class Kind {
        kRun,          // the run failed, or did not end
        kWrongRecord,  // a stored record that is not its own request's answer
        kMustLose,     // an exchange completed that no answer of its own could complete
        kReason,       // fewer losses counted under a reason than faults planned for it
        kCounts,       // the statistics, the table and the history disagree
        kBound,        // more exchanges lost than the faults may cost
        kIntegrity,    // the history file is damaged
    };
    Kind kind;
    std::string text;

    // A loaded machine can lose exchanges the faults do not explain, never
    // store another request's answer.
    bool MayBeTheLoad() const { return kind == Kind::kBound; }
    static const char* Label(Kind kind);
};

std::vector<Finding> CheckRun(const CampaignPlan& plan, const Expectation& expected,
                              const RunResult& run);

// Whose answer a record holds, as far as the line of the plan could have
// sent it: "station 2's answer 7", or "no answer the line sent".
std::string WhoseAnswer(const CampaignPlan& plan, const MeterRecord& record);
