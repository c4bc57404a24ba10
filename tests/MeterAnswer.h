#pragma once

#include <array>
#include <cstdint>
#include <vector>

// A 58-byte meter answer block with the twelve words at bytes 9..32, most
// significant byte first, and recognisable filler everywhere else.
inline std::vector<unsigned char> MeterAnswer(const std::array<std::uint16_t, 12>& words,
                                              unsigned char filler = 0xEE) {
    std::vector<unsigned char> block(58, filler);
    for (int i = 0; i < 12; ++i) {
        block[9 + 2 * i] = static_cast<unsigned char>(words[i] >> 8);
        block[10 + 2 * i] = static_cast<unsigned char>(words[i] & 0xFF);
    }
    return block;
}

// Typical readings: line voltages near 400 V and phase voltages near 230 V
// in hundredths of a volt, currents as raw words.
inline std::array<std::uint16_t, 12> TypicalWords() {
    return {1, 40010, 39990, 40020, 23012, 23100, 22950, 7, 512, 498, 11, 12};
}
