#pragma once

#include <string>
#include <utility>
#include <vector>

// Each row label of the printed statistics table and the path of the same
// figure in the --stats-json file, so tests can compare the two figure by
// figure.
inline const std::vector<std::pair<std::string, std::vector<std::string>>>& StatisticsFigurePaths() {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> paths = {
        {"requests sent", {"requests_sent"}},
        {"rounds completed", {"rounds_completed"}},
        {"rounds lost", {"rounds_lost"}},
        {"no answer", {"lost_by_reason", "no_answer"}},
        {"short", {"lost_by_reason", "short"}},
        {"too long", {"lost_by_reason", "too_long"}},
        {"wrong station", {"lost_by_reason", "wrong_station"}},
        {"echo mismatch", {"lost_by_reason", "echo_mismatch"}},
        {"noise", {"lost_by_reason", "noise"}},
        {"bad checksum", {"lost_by_reason", "bad_checksum"}},
        {"too early", {"lost_by_reason", "too_early"}},
        {"standard form", {"lost_by_reason", "standard_form"}},
        {"exception", {"lost_by_reason", "exception"}},
        {"late", {"lost_by_reason", "late"}},
        {"line gone", {"lost_by_reason", "line_gone"}},
        {"loss %", {"loss_percent"}},
        {"exchanges stopped", {"exchanges_stopped"}},
        {"response min ms", {"response_ms", "min"}},
        {"response mean ms", {"response_ms", "mean"}},
        {"response p95 ms", {"response_ms", "p95"}},
        {"response max ms", {"response_ms", "max"}},
        {"polls/s", {"polls_per_second"}},
        {"line use %", {"line_use_percent"}},
    };
    return paths;
}
