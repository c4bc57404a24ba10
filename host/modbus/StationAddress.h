#pragma once

#include <cstdint>

// The addresses a Modbus station may have: 0 is the broadcast, 248..255
// are reserved.
namespace StationAddress {

constexpr unsigned int kLowest = 1;
constexpr unsigned int kHighest = 247;

constexpr bool Valid(unsigned int address) {
    return address >= kLowest && address <= kHighest;
}

// The station next to a valid one; the highest's is the lowest.
constexpr std::uint8_t Next(std::uint8_t station) {
    return static_cast<std::uint8_t>(station % kHighest + kLowest);
}

}  // namespace StationAddress
