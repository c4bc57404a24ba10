// The round loop: each meter's exchange in turn, from its request to its
// answer's bytes in the meter or its loss. What becomes of a decoded answer
// and of a missing one is in BenchHostAnswer.cpp; the run's start and end,
// a stop and a line that goes away in BenchHostRun.cpp.
#include "BenchHost.h"

#include "BenchError.h"
#include "LossNotes.h"
#include "ModbusFrame.h"
#include "QVT7702.h"
#include "RoundLoopSettings.h"
#include "SMDSPDevice.h"
#include "SerialLine.h"
#include "StopSignals.h"
#include "WireBudget.h"

#include <boost/asio/post.hpp>

#include <algorithm>

#include <unistd.h>

namespace {

template <typename Duration>
BenchHost::Clock::duration Ticks(Duration duration) {
    return std::chrono::duration_cast<BenchHost::Clock::duration>(duration);
}

}  // namespace

BenchHost::BenchHost(boost::asio::io_context& io, SerialLine& line, MeterLineup& meters,
                     HistoryStore& history, PluginTraceCapture& trace, std::ostream& out,
                     const RoundLoopSettings& options)
    : io_(io), line_(line), meters_(meters), history_(history), trace_(trace), out_(out),
      options_(options),
      // A history the writer gave up on ends the run from the loop.
      writer_(history.Path(), &StopSignals::Pending,
              [this] {
                  boost::asio::post(io_, [this] {
                      if (!finished_)
                          std::rethrow_exception(writer_.Failure());
                  });
              }),
      sink_(line, writer_, options.verbose,
            {[this](const unsigned char* data, unsigned int len) {
                 request_.assign(data, data + len);
             },
             [this] { decoded_ = true; }}),
      table_(out),
      statistics_(WireBudget(line.Settings(), kReadRequestLength, QVT7702::kAnswerLength)),
      book_(meters, table_, statistics_, hints_, out),
      round_timer_(io),
      answer_timer_(io),
      stop_signals_(io, ::dup(StopSignals::Descriptor())),
      exchange_line_{Ticks(line.Settings().CharacterTime()), QVT7702::kAnswerLength, options.echo,
                     options.check_checksum},
      interval_(Ticks(std::chrono::duration<double>(options.interval_seconds))),
      // The answer can only start once the request is on the line.
      answer_timeout_(
          std::chrono::milliseconds(options.timeout_ms) +
          Ticks(line.Settings().CharacterTime() * static_cast<double>(kReadRequestLength))),
      policy_({exchange_line_.character, Ticks(line.Settings().SilentInterval()),
               std::chrono::milliseconds(options.timeout_ms),
               std::chrono::milliseconds(options.late_limit_ms),
               Exchange::FollowWindow(exchange_line_)}),
      outage_(io, line, out),
      pending_(io, last_activity_, [this] { CommitPending(); }) {
    for (const MeterLineup::Meter& meter : meters_.Meters())
        statistics_.AddMeter(RoundBook::KeyOf(meter));
}

void BenchHost::ScheduleExchange(Clock::time_point at) {
    round_timer_.expires_at(at);
    round_timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error && !finished_)
            BeginExchange();
    });
}

void BenchHost::BeginExchange() {
    const Clock::time_point now = Clock::now();
    if (outage_.Gone()) {
        LoseWhileGone();
        return;
    }
    const Clock::time_point quiet_from =
        std::max(policy_.RequestNotBefore(last_activity_), line_.EarliestWrite());
    if (now < quiet_from) {
        NoteQuietWait(now);
        ScheduleExchange(quiet_from);
        return;
    }
    quiet_wait_since_.reset();
    hints_.QuietAgain();
    SettleLateWatch();

    if (current_ == 0) {
        ++round_;
        round_started_ = now;
    }
    phase_ = Phase::kAwaitingAnswer;
    const std::uint64_t exchange = ++exchange_number_;
    sink_.HoldRecords();

    request_.clear();
    Current().device->RefreshStatus();
    try {
        sink_.ThrowIfFailed();
    } catch (const BenchError& failure) {
        // The request could not go out because the device has just gone.
        if (!options_.wait_on_unplug || failure.Code() != ExitCode::kPort || line_.DevicePresent())
            throw;
        phase_ = Phase::kIdle;
        sink_.TakeHeld();
        if (current_ == 0)
            --round_;  // the slot is counted again as lost while the line is gone
        OnLineGone();
        return;
    }
    // The write hands the whole request over at once; its last byte is on
    // the line one request's time later.
    const Clock::time_point request_end =
        now + exchange_line_.character * static_cast<long>(request_.size());
    exchange_.emplace(exchange_line_, Current().station, request_, request_end);
    statistics_.RequestSent(RoundBook::KeyOf(Current()), request_end);

    answer_timer_.expires_after(answer_timeout_);
    answer_timer_.async_wait([this, exchange](const boost::system::error_code& error) {
        if (!error)
            OnAnswerTimeout(exchange);
    });
}

// A line that never falls quiet holds every request back; say so while
// waiting, once the wait is long.
void BenchHost::NoteQuietWait(Clock::time_point now) {
    if (!quiet_wait_since_)
        quiet_wait_since_ = now;
    if (now < last_activity_ + policy_.QuietBeforeRequest())
        Hint(hints_.WhileWaiting(now - *quiet_wait_since_));
}

void BenchHost::Receive() {
    line_.ReadSome([this](const boost::system::error_code& error, unsigned char* data,
                          std::size_t len) {
        if (finished_ || error == boost::asio::error::operation_aborted)
            return;
        if (error && SerialLine::Gone(error) && options_.wait_on_unplug) {
            OnLineGone();
            return;
        }
        if (error && SerialLine::Gone(error))
            throw BenchError(ExitCode::kPort, line_.GoneMessage());
        if (error)
            throw BenchError(ExitCode::kPort, line_.Name() + " failed: " + error.message());
        OnReceived(data, len);
        if (!finished_)
            Receive();
    });
}

void BenchHost::OnReceived(unsigned char* data, std::size_t len) {
    const Clock::time_point now = Clock::now();
    last_activity_ = now;
    switch (phase_) {
    case Phase::kAwaitingAnswer:
        TakeExchangeBytes(data, len, now);
        return;
    case Phase::kAnswered:  // judged once the line falls quiet again
        dropped_bytes_ += len;
        answer_tail_->Feed(data, len);
        return;
    case Phase::kIdle:
        dropped_bytes_ += len;
        if (now < policy_.OwedUntil())
            late_watch_.Bytes(len, now);
        // Right after an answer whose record waits, a few bytes that cannot
        // begin a frame are the line's glitch; anything else is doubt.
        if (pending_.Waiting() && pending_.Glitch(data, len))
            return;
        if (pending_.Waiting())
            DropPending(LossNotes::FollowedLater());
        policy_.Doubt();
        return;
    }
}

void BenchHost::TakeExchangeBytes(unsigned char* data, std::size_t len, Clock::time_point at) {
    const bool first_bytes = !exchange_->FirstByteAt();
    const Exchange::Step step = exchange_->Feed(data, len, at);
    if (first_bytes && exchange_->FirstByteAt())
        JudgeNextAnswerStart(at);
    dropped_bytes_ += len - step.echoed - step.meter_len;
    if (step.loss) {
        Lose(step.loss->reason, step.loss->note);
        return;
    }
    if (step.meter_len == 0)
        return;
    const MeterTook took = GiveToMeter(data + step.meter_begin, step.meter_len);
    if (took == MeterTook::kDecoded && step.answered) {
        CommitPending();  // the next answer came, whole, in its own time
        Answered(data + step.tail_begin, len - step.tail_begin);
    }
    else if (took != MeterTook::kMore || step.answered)
        Lose(LossReason::kTooLong, LossNotes::Overflow());
}

// Every chunk goes to the meter as it arrives, the way the framework
// delivers them, but never past the answer's last byte. The meter's
// publishing tells that it decoded an answer.
BenchHost::MeterTook BenchHost::GiveToMeter(unsigned char* data, std::size_t len) {
    decoded_ = false;
    const int more = Current().device->process(data, static_cast<unsigned int>(len));
    sink_.ThrowIfFailed();
    if (more != 0)
        return MeterTook::kMore;
    return decoded_ ? MeterTook::kDecoded : MeterTook::kEnded;
}

void BenchHost::Lose(LossReason reason, const std::string& note) {
    const bool decoded_but_dropped = phase_ == Phase::kAnswered;
    ExchangeEnd end = EndOf(Outcome::kLost, note, decoded_but_dropped);
    end.loss_reason = reason;
    last_activity_ = Clock::now();
    phase_ = Phase::kIdle;
    answer_timer_.cancel();
    sink_.TakeHeld();  // dropped: neither published nor stored
    answered_records_ = {};
    policy_.Lost(Current().station, reason, exchange_->RequestEnd());
    // Bytes where the echo should be, or an answer too early for this
    // request, may be a frame queued behind the waiting record's answer;
    // otherwise nothing has spoken against it.
    if ((reason == LossReason::kEchoMismatch && exchange_->EchoMayBeAFrame()) ||
        reason == LossReason::kTooEarly)
        DropPending(LossNotes::FollowedEarly());
    else
        CommitPending();
    book_.Record(end);
    Hint(hints_.AfterLoss(reason, exchange_->AnswerStartsWithRequest(),
                          reason == LossReason::kBadChecksum &&
                              note.find("sits at") != std::string::npos));
    ScheduleNext();
}

// A stop in the middle of an exchange: nothing of it is stored.
void BenchHost::EndExchange(Outcome outcome, const std::string& note) {
    ExchangeEnd end = EndOf(outcome, note, false);
    phase_ = Phase::kIdle;
    answer_timer_.cancel();
    sink_.TakeHeld();
    answered_records_ = {};
    last_activity_ = Clock::now();
    book_.Record(end);
    ScheduleNext();
}

BenchHost::ExchangeEnd BenchHost::EndOf(Outcome outcome, const std::string& note,
                                        bool decoded_but_dropped) {
    return ExchangeEnd{current_,
                       round_,
                       outcome,
                       note,
                       decoded_but_dropped,
                       LossReason::kNoAnswer,
                       exchange_->RequestEnd(),
                       answer_end_,
                       TakeDetails(),
                       RoundTable::Values(*Current().device)};
}

void BenchHost::Hint(const std::optional<std::string>& hint) {
    if (hint)
        out_ << *hint << std::endl;
}

// The next meter of the round right away (once the line is quiet), the
// next round an interval after this one began.
void BenchHost::ScheduleNext(Clock::time_point not_before) {
    if (finished_ || phase_ != Phase::kIdle)
        return;
    const bool round_over = ++current_ == meters_.Size();
    if (round_over)
        current_ = 0;
    if (stop_requested_) {
        Finish(Ending::kStopped);
    } else if (round_over && options_.rounds != 0 && round_ >= options_.rounds) {
        rounds_done_ = true;
        if (!pending_.Waiting())
            Finish(Ending::kDone);
    } else {
        ScheduleExchange(std::max(round_over ? round_started_ + interval_ : Clock::now(), not_before));
    }
}
