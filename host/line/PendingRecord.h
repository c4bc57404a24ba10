#pragma once

#include "BenchSink.h"
#include "Exchange.h"
#include "RoundBook.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

// A completed exchange whose record waits for the line to show that its
// answer was its request's (LinePolicy): once the line has stayed quiet
// long enough after the answer, `on_quiet` is called to store it; the
// round loop settles it sooner when the next answer begins.
class PendingRecord {
public:
    using Clock = std::chrono::steady_clock;

    struct Held {
        RoundBook::ExchangeEnd end;
        BenchSink::Held records;
        AnswerTail tail;
    };

    // `last_activity` is the line's last activity, read at every check.
    PendingRecord(boost::asio::io_context& io, const Clock::time_point& last_activity,
                  std::function<void()> on_quiet)
        : timer_(io), last_activity_(last_activity), on_quiet_(std::move(on_quiet)) {}

    // Holds `held` until the line has been quiet for `quiet`.
    void Hold(Held held, Clock::duration quiet);
    bool Waiting() const { return held_.has_value(); }
    // Bytes right after the answer: true while they are only the line's
    // glitch, bytes that cannot begin a frame.
    bool Glitch(const unsigned char* data, std::size_t len) { return held_->tail.Feed(data, len); }
    // Ends the wait; what was held, if anything.
    std::optional<Held> Take();

private:
    void Watch();

    boost::asio::steady_timer timer_;
    const Clock::time_point& last_activity_;
    std::function<void()> on_quiet_;
    Clock::duration quiet_{};
    std::optional<Held> held_;
};
