#pragma once

#include "MeterRecord.h"

#include <cstdint>

// Whether a stored record holds the words the simulated meter at `station`
// sends in its answer number `answer` (its answer to request `answer`,
// unless a fault shifted it).
bool CarriesAnswer(const MeterRecord& record, std::uint8_t station, std::uint32_t answer);
