// What becomes of a request's answer: a decoded one held until the line
// shows it was this request's (LinePolicy), none within the timeout and
// what came of it before the late limit.
#include "BenchHost.h"

#include "LossNotes.h"
#include "RoundLoopSettings.h"

// The meter holds the whole answer and has decoded it: its record waits
// while the line is watched for what follows.
void BenchHost::Answered(const unsigned char* tail, std::size_t len) {
    answer_end_ = last_activity_;
    policy_.Delivered(exchange_->LongestPause());
    answered_records_ = sink_.TakeHeld();
    answer_tail_.emplace();
    phase_ = Phase::kAnswered;
    answer_tail_->Feed(tail, len);
    WatchAnswered(exchange_number_);
}

void BenchHost::WatchAnswered(std::uint64_t exchange) {
    const Clock::duration quiet = policy_.AnswerQuiet(Current().station);
    answer_timer_.expires_at(last_activity_ + quiet);
    answer_timer_.async_wait([this, exchange, quiet](const boost::system::error_code& error) {
        if (error || finished_ || phase_ != Phase::kAnswered || exchange != exchange_number_)
            return;
        if (Clock::now() < last_activity_ + quiet)
            WatchAnswered(exchange);
        else if (!answer_tail_->Harmless())
            Lose(LossReason::kTooLong, answer_tail_->Note());
        else
            AnswerStands();
    });
}

void BenchHost::AnswerStands() {
    const std::uint8_t station = Current().station;
    ExchangeEnd end = EndOf(Outcome::kCompleted, "", false);
    phase_ = Phase::kIdle;
    if (policy_.InDoubt(station)) {
        // Confirmed by the line's silence: the owed answer has come.
        sink_.Commit(std::move(answered_records_));
        sink_.ThrowIfFailed();
        policy_.Confirmed(station);
        book_.Record(end);
    } else {
        pending_.Hold({std::move(end), std::move(answered_records_), *answer_tail_},
                      policy_.PendingQuiet());
    }
    ScheduleNext();
}

// The next answer settles the record before it. A first byte sooner than
// an answer can begin follows that record's answer, not this request; so
// does an answer whole too early to be this request's, however late it
// began (Lose). An answer whole in its own time shows that nothing was
// queued behind the record's (TakeExchangeBytes).
void BenchHost::JudgeNextAnswerStart(Clock::time_point at) {
    if (!pending_.Waiting())
        return;
    if (at < policy_.EarliestAnswerStart(exchange_->RequestEnd()))
        DropPending(LossNotes::FollowedEarly());
}

void BenchHost::CommitPending() {
    std::optional<PendingRecord::Held> pending = pending_.Take();
    if (!pending)
        return;
    sink_.Commit(std::move(pending->records));
    sink_.ThrowIfFailed();
    book_.Record(pending->end);
    FinishIfDone();
}

void BenchHost::DropPending(const std::string& note) {
    std::optional<PendingRecord::Held> pending = pending_.Take();
    if (!pending)
        return;
    ExchangeEnd& end = pending->end;
    end.outcome = Outcome::kLost;
    end.loss_reason = LossReason::kTooLong;
    end.reason = note;
    end.decoded_but_dropped = true;
    policy_.Lost(meters_.At(end.meter).station, end.loss_reason, end.request_end);
    book_.Record(end);
    Hint(hints_.AfterLoss(end.loss_reason, false, false));
    FinishIfDone();
}

// The last round is over once its last record is settled, either way.
void BenchHost::FinishIfDone() {
    if (rounds_done_ && phase_ == Phase::kIdle && !pending_.Waiting() && !finished_)
        Finish(Ending::kDone);
}

void BenchHost::OnAnswerTimeout(std::uint64_t exchange) {
    if (finished_ || phase_ != Phase::kAwaitingAnswer || exchange != exchange_number_)
        return;
    if (!exchange_->FirstByteAt())
        CommitPending();  // the line stayed silent after that answer
    const Exchange::Loss loss = exchange_->TimedOut(options_.timeout_ms);
    // The meter may still answer: what comes before the late limit tells
    // whether the timeout was too short.
    if (loss.reason == LossReason::kNoAnswer)
        late_watch_.Start(current_, exchange_->RequestEnd());
    Lose(loss.reason, loss.note);
}

void BenchHost::SettleLateWatch() {
    const std::optional<LateWatch::Heard> heard = late_watch_.Settle();
    if (!heard)
        return;
    const MeterLineup::Meter& meter = meters_.At(heard->meter);
    statistics_.LossRenamed(RoundBook::KeyOf(meter), LossReason::kNoAnswer, LossReason::kLate);
    if (options_.verbose)
        out_ << "  "
             << LossNotes::Late(meter.station, options_.timeout_ms, heard->bytes,
                                heard->first_after)
             << '\n';
    Hint(hints_.AfterLate(heard->last_after));
}
