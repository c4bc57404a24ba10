// Runs a fixed number of completed rounds on a configured meter, with the
// stand-in framework quiet, for counting instructions under callgrind:
//
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*RunRounds*'
//            round_profile ROUNDS SIGNALS CHUNK
//
// Only RunRounds and what it calls is counted, so the total divided by
// ROUNDS is the instructions of one round. SIGNALS watched signals (0..8),
// the answer handed over in chunks of CHUNK bytes (1..58).
#include "MeterAnswer.h"
#include "MeterSetup.h"
#include "QVT7702.h"
#include "QuietFramework.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Returns how many rounds completed.
__attribute__((noinline)) long RunRounds(QVT7702& meter, std::vector<unsigned char>& answer,
                                         long rounds, std::size_t chunk) {
    long completed = 0;
    for (long round = 0; round < rounds; ++round) {
        for (std::size_t at = 0; at < answer.size(); at += chunk) {
            const std::size_t size = std::min(chunk, answer.size() - at);
            if (meter.process(answer.data() + at, static_cast<unsigned int>(size)) == 0)
                ++completed;
        }
    }
    return completed;
}

long Argument(const char* text, long low, long high) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high)
        return -1;
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    const long rounds = argc == 4 ? Argument(argv[1], 1, 100000000) : -1;
    const long signals = argc == 4 ? Argument(argv[2], 0, 8) : -1;
    const long chunk = argc == 4 ? Argument(argv[3], 1, QVT7702::kAnswerLength) : -1;
    if (rounds < 0 || signals < 0 || chunk < 0) {
        std::cerr << "usage: round_profile ROUNDS SIGNALS(0..8) CHUNK(1..58)\n";
        return 2;
    }

    const QuietFramework quiet;
    QVT7702 meter;
    ConfigureMeter(meter, 101, LoadSettings(QVT7702_EXAMPLE_SETTINGS));
    WatchSignals(meter, static_cast<std::size_t>(signals));
    std::vector<unsigned char> answer = MeterAnswer(TypicalWords());
    RunRounds(meter, answer, 1, answer.size());  // first use of the clock loads time-zone data

    const long completed = RunRounds(meter, answer, rounds, static_cast<std::size_t>(chunk));
    if (completed != rounds) {
        std::cerr << "round_profile: " << completed << " of " << rounds << " rounds completed\n";
        return 1;
    }
    return 0;
}
