#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

// After an exchange without any answer, until the late limit: what came.
// Bytes that come after a request's timeout but before its late limit were
// most likely its answer, so the loss is counted as late, and said so.
class LateWatch {
public:
    using Clock = std::chrono::steady_clock;

    struct Heard {
        std::size_t meter;
        std::size_t bytes;
        std::chrono::milliseconds first_after;  // from the request's end
        std::chrono::milliseconds last_after;
    };

    // The exchange of `meter` whose request ended at `request_end` drew nothing.
    void Start(std::size_t meter, Clock::time_point request_end);
    // `len` bytes outside an exchange, before the late limit; nothing
    // when no watch is on.
    void Bytes(std::size_t len, Clock::time_point at);
    // Ends the watch; what came, when anything did.
    std::optional<Heard> Settle();

private:
    struct Watch {
        std::size_t meter;
        Clock::time_point request_end;
        std::size_t bytes;
        Clock::time_point first_at;
        Clock::time_point last_at;
    };
    std::optional<Watch> watch_;
};
