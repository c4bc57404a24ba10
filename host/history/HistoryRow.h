#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One stored history record: the device it came from, when the framework
// stored it (local time, "YYYY-MM-DD HH:MM:SS.mmm") and the record's bytes.
struct HistoryRow {
    std::int64_t row_id = 0;
    std::uint32_t data_id = 0;
    std::string stored_at;
    std::vector<unsigned char> record;
};
