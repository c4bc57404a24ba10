#pragma once

#include <chrono>
#include <optional>

// How the bench host treats the serial link beyond its framing. Every
// member defaults to what an unconfigured port does.
struct LinkOptions {
    // The kernel's RS-485 mode: RTS raised while sending, with these delays
    // before the first bit and after the last (whole milliseconds).
    static constexpr unsigned int kLongestRs485DelayMs = 1000;
    struct Rs485 {
        unsigned int delay_before_ms = 0;
        unsigned int delay_after_ms = 0;
    };
    std::optional<Rs485> rs485;
    // A pause after the port opens, for adapters that send or drop bytes
    // while they power up; what arrives meanwhile is discarded.
    std::chrono::milliseconds open_pause{0};
    // The least time from one request's write to the next.
    std::chrono::milliseconds request_gap{0};
};
