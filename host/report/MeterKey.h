#pragma once

#include <cstdint>
#include <tuple>

// Which meter on the line an exchange was with: its station address and
// the data id its records are stored under. Either alone may repeat across
// lines and histories; together they name one configured meter.
struct MeterKey {
    unsigned station = 1;
    std::uint32_t data_id = 0;

    friend bool operator==(const MeterKey& a, const MeterKey& b) {
        return std::tie(a.station, a.data_id) == std::tie(b.station, b.data_id);
    }
};
