#include "DataIdChoice.h"

#include "BenchError.h"

namespace {

std::string Listed(const std::set<std::uint32_t>& ids) {
    std::string text = ids.size() == 1 ? "data id " : "data ids ";
    for (auto id = ids.begin(); id != ids.end(); ++id)
        text += (id == ids.begin() ? "" : ", ") + std::to_string(*id);
    return text;
}

}  // namespace

std::uint32_t DataIdChoice::Choose(const std::vector<HistoryRow>& rows,
                                   std::optional<std::uint32_t> asked,
                                   const std::string& history_path) {
    std::set<std::uint32_t> present;
    for (const HistoryRow& row : rows)
        present.insert(row.data_id);
    return Choose(present, asked, history_path);
}

std::uint32_t DataIdChoice::Choose(const std::set<std::uint32_t>& present,
                                   std::optional<std::uint32_t> asked,
                                   const std::string& history_path) {
    const std::string history = "history file " + history_path;
    if (present.empty())
        throw BenchError(ExitCode::kHistory, history + " holds no records");
    if (asked) {
        if (present.count(*asked) == 0)
            throw BenchError(ExitCode::kHistory, history + " holds no records of data id " +
                                                     std::to_string(*asked) + "; it holds " +
                                                     Listed(present));
        return *asked;
    }
    if (present.size() > 1)
        throw BenchError(ExitCode::kUsage, history + " holds " + Listed(present) +
                                               ": choose one with --data-id");
    return *present.begin();
}
