#pragma once

#include <array>
#include <cstdint>
#include <vector>

// What the simulated meters measure, as a pure function of the station and
// the answer's sequence number (each station counts its own answers from 1),
// so that a test can recompute what any answer carried and tell whose it is.
//
// The answer block, 58 bytes:
//
//   byte  0       station address
//   byte  1       function code 4
//   byte  2       53, the number of bytes from 3 to 55
//   bytes 3..4    status word, 0 (no alarm)
//   bytes 5..6    model word 0x7702
//   bytes 7..8    answer sequence number, modulo 65536
//   bytes 9..32   the twelve measurement words below
//   bytes 33..36  active energy, 32 bits, hundredths of a kWh
//   bytes 37..40  reactive energy, 32 bits, hundredths of a kvarh
//   bytes 41..55  reserved, 0
//   bytes 56..57  CRC-16/MODBUS of bytes 0..55, least significant byte first
//
// Every multi-byte field except the CRC is most significant byte first.
//
// The measurement words, in order:
//
//   0  frequency, hundredths of a Hz         (near 5000)
//   1  Uab, hundredths of a volt             (near 40000)
//   2  Ubc                                   (near 40000)
//   3  Uca                                   (near 40000)
//   4  Ua, hundredths of a volt              (near 23000)
//   5  Ub                                    (near 23000)
//   6  Uc                                    (near 23000)
//   7  power factor, thousandths             (near 960)
//   8  Ia, hundredths of an ampere           (near 512)
//   9  Ic, hundredths of an ampere           (near 498)
//  10  total active power, W
//  11  total reactive power, var
class SimulatedReadings {
public:
    static constexpr int kBlockLength = 58;
    static constexpr int kFirstWordByte = 9;
    static constexpr int kWordCount = 12;

    using Words = std::array<std::uint16_t, kWordCount>;

    // The twelve measurement words of station 1's answer number `sequence`.
    static Words WordsOf(std::uint32_t sequence);
    // Station `station`'s: its voltages 2 V and its currents 0.25 A above
    // the station before it's (repeating after 10 stations), its swings
    // ahead by 37 answers a station.
    static Words WordsOf(std::uint8_t station, std::uint32_t sequence);

    // The whole answer block of answer number `sequence`, sent as `station`.
    static std::vector<unsigned char> AnswerBlock(std::uint8_t station, std::uint32_t sequence);
};
