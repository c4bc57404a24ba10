#include "LineSettings.h"

#include <algorithm>

namespace {

constexpr int kStartBits = 1;
constexpr double kSilentCharacters = 3.5;
constexpr int kFastLineBaud = 19200;
constexpr std::chrono::duration<double, std::micro> kFastLineSilence{1750.0};

}  // namespace

// What is on the wire for the line as it is set, not Modbus RTU's nominal
// 11 bits: a line run without parity and with one stop bit (8N1, as the
// bench host and the simulated meter run) takes 10 bits a character, and
// every time derived from it (answer timeouts, pacing, wire-time figures)
// follows the line actually in use.
int LineSettings::CharacterBits() const {
    const int parity_bits = parity == Parity::kNone ? 0 : 1;
    return kStartBits + data_bits + parity_bits + stop_bits;
}

std::chrono::duration<double, std::micro> LineSettings::CharacterTime() const {
    return std::chrono::duration<double, std::micro>(CharacterBits() * 1e6 / baud);
}

// Modbus RTU's quiet time between two frames: 3.5 characters, and a fixed
// 1.75 ms above 19200 baud.
std::chrono::duration<double, std::micro> LineSettings::SilentInterval() const {
    if (baud > kFastLineBaud)
        return kFastLineSilence;
    return CharacterTime() * kSilentCharacters;
}

std::chrono::duration<double, std::micro> LineSettings::ShortestFrameEnd() const {
    return std::min(CharacterTime() * kSilentCharacters, SilentInterval());
}

// The wait scales with the line: a slow line takes longer to carry the
// request and the answer, so the same timeout would lose its answers.
std::chrono::milliseconds LineSettings::DefaultAnswerTimeout() const {
    // In whole numbers: the character time's double would round 500 ms up
    // to 501.
    const long long bit_ms = static_cast<long long>(kAnswerTimeoutCharacters) * CharacterBits() * 1000;
    return std::chrono::milliseconds((bit_ms + baud - 1) / baud);
}

std::string LineSettings::Framing() const {
    const char parity_letter = parity == Parity::kEven ? 'E' : parity == Parity::kOdd ? 'O' : 'N';
    return std::to_string(data_bits) + parity_letter + std::to_string(stop_bits);
}

namespace {

struct ParityName {
    Parity parity;
    const char* word;
};

constexpr ParityName kParityNames[] = {
    {Parity::kNone, "none"}, {Parity::kEven, "even"}, {Parity::kOdd, "odd"}};

}  // namespace

const char* ParityWord(Parity parity) {
    for (const ParityName& name : kParityNames)
        if (name.parity == parity)
            return name.word;
    return "none";
}

std::optional<Parity> ParityNamed(const std::string& word) {
    for (const ParityName& name : kParityNames)
        if (word == name.word)
            return name.parity;
    return std::nullopt;
}
