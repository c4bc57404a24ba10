#include "SimulatedReadings.h"

#include "ModbusCrc.h"
#include "ModbusFrame.h"

#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kSqrt3 = 1.7320508075688772;
constexpr std::uint16_t kModelWord = 0x7702;

// A slow drift: a sine wave of the given amplitude and period, counted in
// answers.
double Drift(std::uint32_t sequence, double amplitude, double period) {
    return amplitude * std::sin(kTwoPi * static_cast<double>(sequence) / period);
}

std::uint16_t ToWord(double value) {
    return static_cast<std::uint16_t>(std::lround(value));
}

void PutWord(std::vector<unsigned char>& block, int offset, std::uint16_t word) {
    block[offset] = static_cast<unsigned char>(word >> 8);
    block[offset + 1] = static_cast<unsigned char>(word & 0xFF);
}

void PutLong(std::vector<unsigned char>& block, int offset, std::uint32_t value) {
    PutWord(block, offset, static_cast<std::uint16_t>(value >> 16));
    PutWord(block, offset + 2, static_cast<std::uint16_t>(value & 0xFFFF));
}

}  // namespace

SimulatedReadings::Words SimulatedReadings::WordsOf(std::uint32_t sequence) {
    return WordsOf(1, sequence);
}

SimulatedReadings::Words SimulatedReadings::WordsOf(std::uint8_t station, std::uint32_t answer) {
    // Every station's values sit apart from the next one's, so a reading
    // shows whose it is; the offsets repeat to stay in the words' range.
    const int place = (station + 9) % 10;  // 0 for station 1
    const double volts_up = 2.0 * place;
    const double amps_up = 0.25 * place;
    const std::uint32_t sequence = answer + 37u * (station - 1u);

    // Phase voltages in volts, each with its own slow swing around 230 V.
    const double ua = 230.0 + volts_up + Drift(sequence, 1.2, 90.0) + Drift(sequence, 0.4, 17.0);
    const double ub = 230.6 + volts_up + Drift(sequence + 30, 1.1, 90.0) + Drift(sequence, 0.3, 13.0);
    const double uc = 229.4 + volts_up + Drift(sequence + 60, 1.3, 90.0) + Drift(sequence, 0.5, 19.0);
    const double power_factor = 0.960 + Drift(sequence, 0.015, 55.0);
    const double ia = 5.12 + amps_up + Drift(sequence, 0.25, 70.0);
    const double ic = 4.98 + amps_up + Drift(sequence + 20, 0.25, 70.0);

    // Line voltages of a balanced system: the phase voltages times the
    // square root of 3.
    const double uab = kSqrt3 * (ua + ub) / 2.0;
    const double ubc = kSqrt3 * (ub + uc) / 2.0;
    const double uca = kSqrt3 * (uc + ua) / 2.0;

    // Three-phase power from the mean line voltage and the mean metered current.
    const double apparent = kSqrt3 * (uab + ubc + uca) / 3.0 * (ia + ic) / 2.0;
    const double active = apparent * power_factor;
    const double reactive = apparent * std::sqrt(1.0 - power_factor * power_factor);

    return {
        ToWord(5000.0 + Drift(sequence, 3.0, 40.0)),
        ToWord(uab * 100.0),
        ToWord(ubc * 100.0),
        ToWord(uca * 100.0),
        ToWord(ua * 100.0),
        ToWord(ub * 100.0),
        ToWord(uc * 100.0),
        ToWord(power_factor * 1000.0),
        ToWord(ia * 100.0),
        ToWord(ic * 100.0),
        ToWord(active),
        ToWord(reactive),
    };
}

std::vector<unsigned char> SimulatedReadings::AnswerBlock(std::uint8_t station,
                                                          std::uint32_t sequence) {
    std::vector<unsigned char> block(kBlockLength, 0);
    block[0] = station;
    block[1] = kReadInputRegisters;
    block[2] = kBlockLength - 5;
    PutWord(block, 3, 0);
    PutWord(block, 5, kModelWord);
    PutWord(block, 7, static_cast<std::uint16_t>(sequence & 0xFFFF));

    const Words words = WordsOf(station, sequence);
    for (int i = 0; i < kWordCount; ++i)
        PutWord(block, kFirstWordByte + 2 * i, words[i]);

    // Energy counters, each answer adding about one second's worth.
    PutLong(block, 33, 1250000u + sequence);
    PutLong(block, 37, 310000u + sequence / 4);

    PutModbusChecksum(block.data(), kBlockLength - 2);
    return block;
}
