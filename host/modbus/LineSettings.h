#pragma once

#include <chrono>
#include <optional>
#include <string>

enum class Parity { kNone, kEven, kOdd };

// "none", "even", "odd": the word the command lines and the statistics use.
const char* ParityWord(Parity parity);
// The parity a word names; nothing for any other word.
std::optional<Parity> ParityNamed(const std::string& word);

// How a serial line frames each character, and the times on the line that
// follow from it. 9600 baud 8N1 unless told otherwise.
struct LineSettings {
    int baud = 9600;
    int data_bits = 8;
    Parity parity = Parity::kNone;
    int stop_bits = 1;  // 1 or 2

    // A line at a speed, parity and number of stop bits, 8 data bits.
    static LineSettings Framed(int baud, Parity parity, int stop_bits) {
        LineSettings line;
        line.baud = baud;
        line.parity = parity;
        line.stop_bits = stop_bits;
        return line;
    }

    // Bits one character occupies on the line.
    int CharacterBits() const;
    // Time one character occupies the line.
    std::chrono::duration<double, std::micro> CharacterTime() const;
    // Quiet time that ends a Modbus RTU frame.
    std::chrono::duration<double, std::micro> SilentInterval() const;
    // The shortest quiet time that may end a frame: 3.5 characters, or the
    // silent interval where that is shorter. A fast line's fixed 1.75 ms is
    // a timer's convenience: a device may answer 3.5 characters after a
    // request, as the simulated meter does.
    std::chrono::duration<double, std::micro> ShortestFrameEnd() const;
    // How long to wait for an answer when not told: this many characters
    // (500 ms at 9600 baud 8N1), in whole milliseconds rounded up.
    static constexpr int kAnswerTimeoutCharacters = 480;
    std::chrono::milliseconds DefaultAnswerTimeout() const;
    // "8N1", "8E2" and the like.
    std::string Framing() const;
};
