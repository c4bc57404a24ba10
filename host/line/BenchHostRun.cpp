// The run's start and end: the cache reload, a stop, the line going away
// and coming back, and the summary and statistics that end every run.
#include "BenchHost.h"

#include "BenchError.h"
#include "CacheReload.h"
#include "ExchangeDetails.h"
#include "HistoryStore.h"
#include "LossNotes.h"
#include "PluginTraceCapture.h"
#include "RoundLoopSettings.h"
#include "RunSummary.h"
#include "SMDSPDevice.h"
#include "SerialLine.h"
#include "StopRequested.h"
#include "StopSignals.h"

#include <exception>
#include <iostream>


// The stop signals stay held: one is taken from their descriptor, and a
// second one while the run finishes stays pending, harmless, until the
// process ends.
void BenchHost::Run() {
    stop_signals_.async_wait(boost::asio::posix::descriptor_base::wait_read,
                             [this](const boost::system::error_code& error) {
                                 if (error)
                                     return;
                                 StopSignals::Take();
                                 OnStopSignal();
                             });
    try {
        ShowDetails();  // the plug-in's lines from configuration
        table_.WriteHeader();
        if (StopSignals::Pending()) {  // it came during set-up: nothing is polled or reloaded
            Finish(Ending::kStopped);
            return;
        }
        for (std::size_t i = 0; i < meters_.Size(); ++i)
            LoadNewestRecord(meters_.At(i));
        Receive();
        ScheduleExchange(Clock::now());
        io_.run();
    } catch (const StopRequested&) {  // a wait for the history's lock, given up
        Finish(Ending::kStopped);
    } catch (const RoundTable::OutputGone& gone) {
        std::cerr << "bench_host: " << gone.what() << ": stopping" << std::endl;
        Finish(Ending::kStopped);
    } catch (...) {
        Finish(Ending::kFailed);
        throw;
    }
}

void BenchHost::LoadNewestRecord(MeterLineup::Meter& meter) {
    const std::optional<std::string> note = CacheReload::Load(*meter.device, history_, out_);
    if (!note)
        return;
    sink_.ThrowIfFailed();
    ShowDetails();
    book_.CacheRow(meter, *note);
}

// The port or the gateway's connection went away: the exchange in hand is
// lost, the history kept, and the same device is looked for until it is back.
void BenchHost::OnLineGone() {
    if (outage_.Gone() || finished_)
        return;
    outage_.Begin();
    CommitPending();  // nothing more can follow its answer
    if (phase_ != Phase::kIdle)
        Lose(LossReason::kLineGone, LossNotes::LineGone(outage_.GoneAt()));
    else
        ScheduleExchange(Clock::now());
    outage_.AwaitReturn([this] {
        // What the device sends as it comes up is no answer of any request.
        policy_.Doubt();
        last_activity_ = Clock::now();
        Receive();
    });
}

// An exchange whose time came while the line is gone: lost, nothing sent.
void BenchHost::LoseWhileGone() {
    if (current_ == 0) {
        ++round_;
        round_started_ = Clock::now();
    }
    const Clock::time_point now = Clock::now();
    book_.Record(ExchangeEnd{current_, round_, Outcome::kLost,
                             LossNotes::LineGone(outage_.GoneAt()), false, LossReason::kLineGone,
                             now, now, TakeDetails(), RoundTable::Values(*Current().device)});
    ScheduleNext(now + LineOutage::kPace);
}

void BenchHost::OnStopSignal() {
    stop_requested_ = true;
    switch (phase_) {
    case Phase::kIdle:
        Finish(Ending::kStopped);
        return;
    case Phase::kAnswered:
        if (!policy_.InDoubt(Current().station)) {
            AnswerStands();
            return;
        }
        EndExchange(Outcome::kStopped, LossNotes::NotConfirmed());
        return;
    case Phase::kAwaitingAnswer:
        EndExchange(Outcome::kStopped, LossNotes::Stopped());
        return;
    }
}

void BenchHost::Finish(Ending ending) {
    if (finished_)
        return;
    finished_ = true;
    std::exception_ptr failure;
    if (ending != Ending::kFailed) {
        try {
            CommitPending();  // nothing came to speak against it
        } catch (const StopRequested&) {
            // its write given up for a stop: counted as not stored
        } catch (...) {
            failure = std::current_exception();
            ending = Ending::kFailed;
        }
    }
    if (phase_ != Phase::kIdle) {  // a failure or a given-up wait in the middle of an exchange
        book_.CutShort(current_, round_);
        sink_.TakeHeld();
        phase_ = Phase::kIdle;
    }
    pending_.Take();
    // What was handed over is stored; after a stop a lock is not waited for.
    writer_.Finish(ending == Ending::kStopped ? HistoryWriter::Locks::kGiveUp
                                              : HistoryWriter::Locks::kWaitOut);
    if (ending != Ending::kFailed && writer_.Failure()) {
        failure = writer_.Failure();
        ending = Ending::kFailed;
    }
    round_timer_.cancel();
    answer_timer_.cancel();
    boost::system::error_code ignored;
    stop_signals_.cancel(ignored);
    outage_.End();
    line_.Close();
    SettleLateWatch();
    statistics_.Finish(Clock::now());
    const bool output_open = static_cast<bool>(out_);
    WriteSummary(ending, Report());
    if (output_open && !out_)  // it went just now
        WriteSummary(ending, std::cerr);
    WriteStatistics(ending, Report());
    if (failure)
        std::rethrow_exception(failure);
}

// Standard output, or standard error once standard output is gone: the
// summary of a run whose output was closed still reaches the user.
std::ostream& BenchHost::Report() {
    return out_ ? out_ : std::cerr;
}

void BenchHost::WriteStatistics(Ending ending, std::ostream& text) {
    StatisticsReport report = statistics_.Report();
    report.checksum_checked = options_.check_checksum;
    report.outages = outage_.Count();
    report.latency_timer_ms = line_.Identity().LatencyTimerMs();
    report.outage_seconds = std::chrono::duration<double>(outage_.Total()).count();
    WriteRunStatistics(text, report, options_.stats_json_path, ending == Ending::kFailed);
}

void BenchHost::WriteSummary(Ending ending, std::ostream& out) {
    const char* word = ending == Ending::kFailed    ? "failed"
                       : ending == Ending::kStopped ? "stopped"
                                                    : "done";
    WriteRunSummary(out, {word, meters_.Size(), round_, book_.Completed(), book_.Lost(),
                          book_.CutRound(), sink_.PublishedCount(), sink_.HistoryCount(),
                          history_.Path(), sink_.NotStoredCount(), dropped_bytes_,
                          options_.check_checksum});
}

// With --verbose: the exchange's request and answer frames, the records
// published and the plug-in's own lines. Without, the plug-in's lines are
// dropped so they do not pile up.
std::vector<std::string> BenchHost::TakeDetails() {
    const std::vector<std::string> plugin_lines = trace_.TakeLines();
    const std::vector<std::string> notes = sink_.TakeNotes();
    if (!options_.verbose)
        return {};
    return ExchangeDetails(exchange_ ? &*exchange_ : nullptr, notes, plugin_lines);
}
