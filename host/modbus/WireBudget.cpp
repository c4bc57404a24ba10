#include "WireBudget.h"

WireBudget::WireBudget(const LineSettings& line, std::size_t request_bytes,
                       std::size_t answer_bytes)
    : line_(line), request_bytes_(request_bytes), answer_bytes_(answer_bytes) {}

std::chrono::duration<double, std::micro> WireBudget::PollTime() const {
    const double characters = static_cast<double>(request_bytes_ + answer_bytes_);
    return line_.CharacterTime() * characters + line_.ShortestFrameEnd() * 2.0;
}

std::chrono::duration<double, std::micro> WireBudget::RequestTime() const {
    return line_.CharacterTime() * static_cast<double>(request_bytes_);
}

double WireBudget::PollSeconds() const {
    return std::chrono::duration<double>(PollTime()).count();
}

double WireBudget::PollsPerSecond() const {
    return 1.0 / PollSeconds();
}
