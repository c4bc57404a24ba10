#pragma once

#include "BenchSink.h"
#include "RoundTable.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class HistoryStore;
class PluginTraceCapture;
class SMDSPDevice;
class SerialLine;
struct BenchOptions;

// Drives one configured meter the way the controller does: at every round
// RefreshStatus (the meter sends its request), then each chunk of received
// bytes to process() until it reports the exchange over, or the answer
// timeout ends it as lost. Rounds start every interval, never before the
// line has been quiet for the silent interval; bytes that arrive outside an
// exchange are dropped. Ctrl-C (SIGINT, SIGTERM) stops between exchanges.
class BenchHost {
public:
    using Clock = std::chrono::steady_clock;

    BenchHost(boost::asio::io_context& io, SerialLine& line, SMDSPDevice& meter,
              HistoryStore& history, PluginTraceCapture& trace, std::ostream& out,
              const BenchOptions& options);

    // Re-loads the device's newest stored record, then polls until the
    // rounds are done or a stop signal comes. Throws BenchError when the
    // line or the history fails.
    void Run();

    std::uint64_t Completed() const { return completed_; }
    std::uint64_t Lost() const { return lost_; }

private:
    void LoadNewestRecord();
    void ScheduleRound(Clock::time_point at);
    void BeginRound();
    void Receive();
    void OnReceived(unsigned char* data, std::size_t len);
    void OnAnswerTimeout(std::uint64_t exchange);
    void EndExchange(bool completed, const std::string& note);
    void OnStopSignal();
    void Finish();
    void ShowDetails();
    std::string LostNote() const;

    boost::asio::io_context& io_;
    SerialLine& line_;
    SMDSPDevice& meter_;
    HistoryStore& history_;
    PluginTraceCapture& trace_;
    std::ostream& out_;
    const BenchOptions& options_;
    BenchSink sink_;
    RoundTable table_;
    boost::asio::steady_timer round_timer_;
    boost::asio::steady_timer answer_timer_;
    boost::asio::signal_set stop_signals_;
    Clock::duration interval_;
    Clock::duration answer_timeout_;

    std::uint64_t round_ = 0;
    std::uint64_t completed_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t stray_bytes_ = 0;
    std::uint64_t exchange_ = 0;
    bool exchange_active_ = false;
    bool stop_requested_ = false;
    bool finished_ = false;
    Clock::time_point round_started_;
    Clock::time_point last_received_;
    std::vector<unsigned char> answer_;
    std::size_t answer_chunks_ = 0;
};
