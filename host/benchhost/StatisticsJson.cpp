#include "StatisticsJson.h"

#include "BenchError.h"

#include <json/writer.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The printed table's two decimals, so both carry the same numbers.
constexpr unsigned kDecimals = 2;

const char* ParityName(Parity parity) {
    return parity == Parity::kEven ? "even" : parity == Parity::kOdd ? "odd" : "none";
}

Json::Value ResponseJson(const PollFigures& figures) {
    if (!figures.response)
        return Json::Value(Json::nullValue);
    Json::Value response(Json::objectValue);
    response["min"] = figures.response->min_ms;
    response["mean"] = figures.response->mean_ms;
    response["p95"] = figures.response->p95_ms;
    response["max"] = figures.response->max_ms;
    return response;
}

Json::Value FiguresJson(const PollFigures& figures, Json::Value into) {
    into["requests_sent"] = Json::UInt64(figures.requests_sent);
    into["rounds_completed"] = Json::UInt64(figures.rounds_completed);
    into["rounds_lost"] = Json::UInt64(figures.rounds_lost);
    Json::Value& reasons = into["lost_by_reason"] = Json::Value(Json::objectValue);
    for (LossReason reason : kLossReasons)
        reasons[LossReasonKey(reason)] = Json::UInt64(figures.LostFor(reason));
    into["loss_percent"] = figures.loss_percent;
    into["exchanges_stopped"] = Json::UInt64(figures.exchanges_stopped);
    into["response_ms"] = ResponseJson(figures);
    into["polls_per_second"] = figures.polls_per_second;
    into["line_use_percent"] = figures.line_use_percent;
    return into;
}

Json::Value LineSettingsJson(const LineSettings& line) {
    Json::Value settings(Json::objectValue);
    settings["baud"] = line.baud;
    settings["data_bits"] = line.data_bits;
    settings["parity"] = ParityName(line.parity);
    settings["stop_bits"] = line.stop_bits;
    return settings;
}

std::string JsonText(const StatisticsReport& report) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["precision"] = kDecimals;
    builder["precisionType"] = "decimal";
    return Json::writeString(builder, StatisticsToJson(report)) + '\n';
}

[[noreturn]] void CannotWrite(const std::string& path, int error) {
    throw BenchError(ExitCode::kFailure,
                     "--stats-json: cannot write " + path + ": " + std::strerror(error));
}

std::string TemporaryPath(const std::string& path) {
    return path + ".tmp." + std::to_string(::getpid());
}

}  // namespace

Json::Value StatisticsToJson(const StatisticsReport& report) {
    Json::Value root(Json::objectValue);
    root["run_seconds"] = report.run_seconds;
    root["line_settings"] = LineSettingsJson(report.line);
    root["checksum_checked"] = report.checksum_checked;
    root["poll_ms"] = report.poll_ms;
    root["wire_limit_polls_per_second"] = report.wire_limit_polls_per_second;
    Json::Value& meters = root["meters"] = Json::Value(Json::arrayValue);
    for (const auto& meter : report.meters) {
        Json::Value key(Json::objectValue);
        key["station"] = meter.first.station;
        key["data_id"] = meter.first.data_id;
        meters.append(FiguresJson(meter.second, key));
    }
    root["line"] = FiguresJson(report.line_total, Json::Value(Json::objectValue));
    return root;
}

void CheckStatisticsJsonPath(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        CannotWrite(path, EISDIR);
    const std::string temporary = TemporaryPath(path);
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            CannotWrite(path, errno);
    }
    std::remove(temporary.c_str());
}

void WriteStatisticsJsonFile(const std::string& path, const StatisticsReport& report) {
    const std::string temporary = TemporaryPath(path);
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            CannotWrite(path, errno);
        file << JsonText(report);
        file.close();
        if (!file) {
            const int error = errno;
            std::remove(temporary.c_str());
            CannotWrite(path, error);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        CannotWrite(path, error);
    }
}
