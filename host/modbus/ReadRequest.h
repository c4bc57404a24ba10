#pragma once

#include "ModbusFrame.h"

#include <array>
#include <cstdint>
#include <optional>

using ReadRequestFrame = std::array<unsigned char, kReadRequestLength>;

// One Read Input Registers request.
struct ReadRequest {
    std::uint8_t station = 0;
    std::uint16_t start = 0;
    std::uint16_t quantity = 0;

    // The request as it goes on the line.
    ReadRequestFrame Frame() const;
    // The request that kReadRequestLength bytes carry; nothing when they are
    // not a Read Input Registers frame with a matching checksum.
    static std::optional<ReadRequest> FromFrame(const unsigned char* frame);
};
