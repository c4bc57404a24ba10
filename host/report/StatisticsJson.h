#pragma once

#include "OutputFile.h"
#include "StatisticsReport.h"

#include <json/value.h>

#include <string>

// The statistics for scripts, with the numbers of the printed table:
// {"run_seconds", "line_settings": {"baud", "data_bits", "parity",
// "stop_bits"}, "poll_ms", "wire_limit_polls_per_second",
// "meters": [{"station", "data_id", <figures>}...], "line": {<figures>}},
// where <figures> are "requests_sent", "rounds_completed", "rounds_lost",
// "lost_by_reason": {"no_answer", "short", "too_long", "wrong_station",
// "echo_mismatch", "noise", "bad_checksum"}, "loss_percent", "exchanges_stopped",
// "response_ms": {"min", "mean", "p95", "max"} or null, "polls_per_second"
// and "line_use_percent".
Json::Value StatisticsToJson(const StatisticsReport& report);

// Writes StatisticsToJson(report) to `path` through a temporary file beside
// it and a rename, so that a reader never sees half a file and a failed
// write leaves the old one. Throws BenchError when it cannot, or when what
// is at `path` now is no earlier statistics file.
void WriteStatisticsJsonFile(const std::string& path, const StatisticsReport& report);

// Whether the file at `path` holds what WriteStatisticsJsonFile writes: a
// JSON object with StatisticsToJson's top-level keys, no other. Only such a
// file, or an empty one, is replaced by the statistics.
bool IsStatisticsJsonFile(const std::string& path);
// The statistics file as an output the run checks before it polls.
const OutputFile::Kind& StatisticsJsonKind();

// Checks before a run that WriteStatisticsJsonFile(path, ...) can write
// there at its end: the temporary file can be made beside it and `path` is
// no folder. Throws BenchError when not, so a long run is not lost to a
// mistyped path.
void CheckStatisticsJsonPath(const std::string& path);
