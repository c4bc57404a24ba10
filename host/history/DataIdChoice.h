#pragma once

#include "HistoryRow.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Which device's records a history tool shows: the data id asked for, or,
// when none was, the only one the history holds. Throws BenchError, naming
// the data ids present: history when the history holds no record of the
// one asked for (or no record at all), usage when several are present and
// none was asked for.
class DataIdChoice {
public:
    static std::uint32_t Choose(const std::vector<HistoryRow>& rows,
                                std::optional<std::uint32_t> asked,
                                const std::string& history_path);
    // `present`: the data ids the history holds.
    static std::uint32_t Choose(const std::set<std::uint32_t>& present,
                                std::optional<std::uint32_t> asked,
                                const std::string& history_path);
};
