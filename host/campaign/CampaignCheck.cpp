#include "CampaignCheck.h"

#include "BenchError.h"
#include "RecordCheck.h"
#include "SimulatedMeter.h"
#include "StationAddress.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace {

std::string ExchangeText(int station, std::uint32_t request) {
    return "station " + std::to_string(station) + " request " + std::to_string(request);
}

// The rows of one meter: completed and lost requests, in order.
struct MeterRows {
    std::vector<std::uint32_t> completed;
    std::vector<std::uint32_t> lost;
    int stopped = 0;
};

std::map<int, MeterRows> RowsByStation(const std::vector<RoundRow>& rows) {
    std::map<int, MeterRows> by_station;
    std::uint64_t done = 0;
    std::uint64_t lost = 0;
    for (const RoundRow& row : rows) {
        MeterRows& meter = by_station[row.station];
        if (row.done > done)
            meter.completed.push_back(row.round);
        else if (row.lost > lost)
            meter.lost.push_back(row.round);
        else
            ++meter.stopped;  // cut short by a stop: neither
        done = row.done;
        lost = row.lost;
    }
    return by_station;
}

void CheckRecords(const CampaignPlan& plan, const std::map<int, MeterRows>& rows,
                  const RunResult& run, std::vector<Finding>& findings) {
    std::map<std::uint32_t, std::vector<const MeterRecord*>> stored;
    for (const auto& [data_id, record] : run.records)
        stored[data_id].push_back(&record);
    for (const CampaignMeter& meter : plan.meters) {
        const auto found = rows.find(meter.station);
        const std::vector<std::uint32_t> none;
        const std::vector<std::uint32_t>& completed =
            found == rows.end() ? none : found->second.completed;
        const std::vector<const MeterRecord*>& records = stored[meter.data_id];
        if (records.size() != completed.size())
            findings.push_back({Finding::Kind::kCounts,
                                "station " + std::to_string(meter.station) + ": " +
                                    std::to_string(completed.size()) + " exchanges completed, " +
                                    std::to_string(records.size()) + " records stored"});
        for (std::size_t i = 0; i < std::min(records.size(), completed.size()); ++i) {
            const MeterRecord& record = *records[i];
            if (record.DataId() == meter.data_id && CarriesAnswer(record, meter.station, completed[i]))
                continue;
            std::ostringstream text;
            text << ExchangeText(meter.station, completed[i]) << " stored "
                 << WhoseAnswer(plan, record);
            if (record.DataId() != meter.data_id)
                text << " under data id " << record.DataId();
            findings.push_back({Finding::Kind::kWrongRecord, text.str()});
        }
        stored.erase(meter.data_id);
    }
    for (const auto& [data_id, records] : stored)
        findings.push_back({Finding::Kind::kWrongRecord,
                            std::to_string(records.size()) + " records stored under data id " +
                                std::to_string(data_id) + ", no meter's"});
}

std::uint64_t Figure(const Json::Value& figures, const char* key) {
    return figures.isObject() && figures[key].isIntegral() ? figures[key].asUInt64() : 0;
}

void CheckStatistics(const CampaignPlan& plan, const Expectation& expected,
                     const std::map<int, MeterRows>& rows, const RunResult& run,
                     std::vector<Finding>& findings) {
    if (!run.statistics) {
        findings.push_back({Finding::Kind::kRun, "no statistics file written"});
        return;
    }
    const Json::Value& statistics = *run.statistics;
    const auto disagree = [&](const std::string& text) {
        findings.push_back({Finding::Kind::kCounts, text});
    };
    std::uint64_t lost = 0;
    for (const Json::Value& meter : statistics["meters"]) {
        const int station = meter["station"].asInt();
        const auto found = rows.find(station);
        const MeterRows none;
        const MeterRows& own = found == rows.end() ? none : found->second;
        const std::string name = "station " + std::to_string(station);
        if (Figure(meter, "rounds_completed") != own.completed.size() ||
            Figure(meter, "rounds_lost") != own.lost.size())
            disagree(name + ": the statistics count " + std::to_string(Figure(meter, "rounds_completed")) +
                     " completed and " + std::to_string(Figure(meter, "rounds_lost")) +
                     " lost, the table " + std::to_string(own.completed.size()) + " and " +
                     std::to_string(own.lost.size()));
        if (Figure(meter, "requests_sent") !=
            own.completed.size() + own.lost.size() + Figure(meter, "exchanges_stopped"))
            disagree(name + ": requests sent are not the exchanges completed, lost and stopped");
        std::uint64_t by_reason = 0;
        for (const std::string& key : meter["lost_by_reason"].getMemberNames())
            by_reason += meter["lost_by_reason"][key].asUInt64();
        if (by_reason != Figure(meter, "rounds_lost"))
            disagree(name + ": the losses by reason do not add up to the lost rounds");
        lost += Figure(meter, "rounds_lost");
    }
    const Json::Value& line = statistics["line"];
    if (Figure(line, "rounds_lost") != lost)
        disagree("the line's lost rounds are not its meters' sum");
    if (Figure(line, "rounds_completed") != run.records.size())
        disagree("the statistics count " + std::to_string(Figure(line, "rounds_completed")) +
                 " completed exchanges, the history holds " + std::to_string(run.records.size()) +
                 " records");
    for (const auto& [reason, least] : expected.least_by_reason) {
        const std::uint64_t counted = line["lost_by_reason"][reason].asUInt64();
        if (counted < static_cast<std::uint64_t>(least))
            findings.push_back({Finding::Kind::kReason,
                                std::to_string(counted) + " exchanges lost for " + reason +
                                    ", but " + std::to_string(least) +
                                    " faults of the plan are lost for it"});
    }
    if (!expected.any_may_be_lost && Figure(line, "rounds_lost") > expected.most_lost)
        findings.push_back({Finding::Kind::kBound,
                            std::to_string(Figure(line, "rounds_lost")) +
                                " exchanges lost, the faults may cost " +
                                std::to_string(expected.most_lost)});
    (void)plan;
}

}  // namespace

std::string WhoseAnswer(const CampaignPlan& plan, const MeterRecord& record) {
    std::vector<std::uint8_t> stations;
    for (const CampaignMeter& meter : plan.meters)
        for (std::uint8_t station : {meter.station, static_cast<std::uint8_t>(meter.station % StationAddress::kHighest + 1)})
            if (std::find(stations.begin(), stations.end(), station) == stations.end())
                stations.push_back(station);
    for (std::uint8_t station : stations)
        for (std::uint32_t first : {0u, SimulatedMeter::kNeighbourAnswerOffset})
            for (std::uint32_t answer = first + 1; answer <= first + plan.rounds + 5; ++answer)
                if (CarriesAnswer(record, station, answer))
                    return "station " + std::to_string(station) + "'s answer " +
                           std::to_string(answer);
    return "no answer the line sent";
}

const char* Finding::Label(Kind kind) {
    switch (kind) {
    case Kind::kRun:
        return "run";
    case Kind::kWrongRecord:
        return "wrong record";
    case Kind::kMustLose:
        return "completed a lost cause";
    case Kind::kReason:
        return "loss reasons";
    case Kind::kCounts:
        return "counts";
    case Kind::kBound:
        return "rounds lost";
    case Kind::kIntegrity:
        return "history";
    }
    return "?";
}

std::vector<Finding> CheckRun(const CampaignPlan& plan, const Expectation& expected,
                              const RunResult& run) {
    std::vector<Finding> findings;
    if (run.stopped && !expected.may_stall)
        findings.push_back({Finding::Kind::kRun, "still polling past its time, stopped"});
    // A run that completed no exchange has a status of its own; the rows
    // below tell whether that was right.
    const bool nothing_read = run.status == static_cast<int>(ExitCode::kNothingRead) &&
                              run.out.find(", 0 completed, ") != std::string::npos;
    if (run.status != 0 && !nothing_read)
        findings.push_back({Finding::Kind::kRun, "exit status " + std::to_string(run.status) +
                                                     (run.err.empty() ? "" : ": " + run.err)});
    if (run.integrity != "ok")
        findings.push_back({Finding::Kind::kIntegrity, "integrity check: " + run.integrity});

    const std::vector<RoundRow> table = ReadPollRows(run.out);
    if (!run.stopped && table.size() != plan.rounds * plan.meters.size())
        findings.push_back({Finding::Kind::kCounts,
                            std::to_string(table.size()) + " rows for " +
                                std::to_string(plan.rounds * plan.meters.size()) + " exchanges"});
    const std::map<int, MeterRows> rows = RowsByStation(table);
    for (const Exchange& exchange : expected.must_lose) {
        const auto found = rows.find(exchange.first);
        if (found == rows.end())
            continue;
        const std::vector<std::uint32_t>& completed = found->second.completed;
        if (std::find(completed.begin(), completed.end(), exchange.second) != completed.end())
            findings.push_back({Finding::Kind::kMustLose,
                                ExchangeText(exchange.first, exchange.second) +
                                    " completed, though its own answer cannot"});
    }
    CheckRecords(plan, rows, run, findings);
    CheckStatistics(plan, expected, rows, run, findings);
    return findings;
}
