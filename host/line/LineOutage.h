#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

class SerialLine;

// The port or the gateway's connection gone away (an adapter pulled out, a
// gateway restarted), and the same device looked for until it is back.
class LineOutage {
public:
    using Clock = std::chrono::steady_clock;

    // While the line is gone, its exchanges are counted no faster than this.
    static constexpr std::chrono::seconds kPace{1};

    LineOutage(boost::asio::io_context& io, SerialLine& line, std::ostream& out)
        : reopen_timer_(io), line_(line), out_(out) {}

    bool Gone() const { return gone_since_.has_value(); }
    // The wall-clock time it went, "HH:MM:SS".
    const std::string& GoneAt() const { return gone_at_; }

    // Says that the line went, and closes it.
    void Begin();
    // Looks for the device every kPace; once it is open again, says so and
    // calls `back`.
    void AwaitReturn(std::function<void()> back);
    // The run ends: no more looking, the time away so far counted.
    void End();

    std::uint64_t Count() const { return outages_; }
    Clock::duration Total() const { return total_; }

private:
    boost::asio::steady_timer reopen_timer_;
    SerialLine& line_;
    std::ostream& out_;
    std::optional<Clock::time_point> gone_since_;
    std::string gone_at_;
    std::uint64_t outages_ = 0;
    Clock::duration total_{};
};
