#include "StatisticsJson.h"

#include "BenchError.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The printed table's two decimals, so both carry the same numbers.
constexpr unsigned kDecimals = 2;

// Far more than the statistics of a line of as many meters as it has stations (some 200 kB): a
// larger file is something else, and is not read whole to find out.
constexpr off_t kLargestStatisticsFile = 4 << 20;

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
    settings["parity"] = ParityWord(line.parity);
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

// A new file beside `path`, made for this write alone (never one that was
// there); its descriptor, or -1 with errno set.
int MakeTemporary(const std::string& path, std::string& temporary) {
    for (unsigned attempt = 0;; ++attempt) {
        temporary = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST || attempt == 100)
            return fd;
    }
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace

const OutputFile::Kind& StatisticsJsonKind() {
    static const OutputFile::Kind kind{"a run's statistics", IsStatisticsJsonFile};
    return kind;
}

bool IsStatisticsJsonFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > kLargestStatisticsFile)
        return false;
    std::ifstream file(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    Json::Value root;
    try {
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        if (!reader->parse(text.data(), text.data() + text.size(), &root, nullptr) ||
            !root.isObject())
            return false;
    } catch (const Json::Exception&) {
        return false;
    }
    // Ours: the members every version wrote, and none that is not ours (an
    // earlier version's file lacks the members added since).
    const Json::Value own = StatisticsToJson(StatisticsReport{});
    for (const char* always : {"run_seconds", "line_settings", "meters", "line"})
        if (!root.isMember(always))
            return false;
    for (const std::string& key : root.getMemberNames())
        if (!own.isMember(key))
            return false;
    return true;
}

Json::Value StatisticsToJson(const StatisticsReport& report) {
    Json::Value root(Json::objectValue);
    root["run_seconds"] = report.run_seconds;
    root["line_settings"] = LineSettingsJson(report.line);
    root["checksum_checked"] = report.checksum_checked;
    Json::Value& outages = root["outages"] = Json::Value(Json::objectValue);
    outages["count"] = Json::UInt64(report.outages);
    outages["seconds"] = report.outage_seconds;
    root["latency_timer_ms"] =
        report.latency_timer_ms ? Json::Value(*report.latency_timer_ms) : Json::Value(Json::nullValue);
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
    std::string temporary;
    const int fd = MakeTemporary(path, temporary);
    if (fd < 0)
        CannotWrite(path, errno);
    ::close(fd);
    ::unlink(temporary.c_str());
}

// The file is complete on the disk before its name is given to it.
void WriteStatisticsJsonFile(const std::string& path, const StatisticsReport& report) {
    const std::string problem = OutputFile::Problem(path, {}, StatisticsJsonKind());
    if (!problem.empty())
        throw BenchError(ExitCode::kFailure, "--stats-json " + path + " " + problem);
    std::string temporary;
    const int fd = MakeTemporary(path, temporary);
    if (fd < 0)
        CannotWrite(path, errno);
    const bool written = WriteAll(fd, JsonText(report)) && ::fsync(fd) == 0;
    const int write_error = errno;
    if (::close(fd) != 0 || !written) {
        const int error = written ? errno : write_error;
        ::unlink(temporary.c_str());
        CannotWrite(path, error);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        CannotWrite(path, error);
    }
}
