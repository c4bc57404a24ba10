#pragma once

#include "Exchange.h"
#include "LineSettings.h"
#include "ScanFinding.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

class ScanProbe;
class SerialLine;

// Finds the meters of a line: at each framing in turn, sends the meter's
// own request (ScanProbe) to each station in turn and judges what comes
// back within a short wait (Exchange), one station at a time. A station
// that stays silent costs its wait and no more; one that answered is
// reported at once. SIGINT, SIGTERM and SIGHUP end the scan at once with
// what it found so far.
class LineScan {
public:
    using Clock = std::chrono::steady_clock;

    // A meter turns a request round in well under this; the wait for a
    // station is its answer's own time on the line and this much.
    static constexpr std::chrono::milliseconds kTurnaroundAllowance{100};

    struct Plan {
        std::vector<std::uint8_t> stations;
        std::vector<LineSettings> framings;
        bool echo = false;  // the adapter echoes the request first
        bool check_checksum = true;
        // The wait after each request, from its end on the line; unset: the
        // answer's own time and the turnaround allowance.
        std::optional<std::chrono::milliseconds> wait;
    };

    struct Result {
        std::vector<ScanFinding> found;
        std::uint64_t tried = 0;  // requests sent
        bool stopped = false;
        Clock::duration took{};
    };

    // `progress` gets a running line (stations tried, what is left) when it
    // is a terminal, else one line per framing.
    LineScan(boost::asio::io_context& io, SerialLine& line, ScanProbe& probe, Plan plan,
             std::ostream& out, std::ostream& progress, bool progress_on_terminal);

    // Throws BenchError (port) when the line fails.
    Result Run();

    // How long after a request's end a station's answer is waited for:
    // the answer's own 58 characters and the 1.5 that end it, the
    // turnaround allowance and a gateway's network round trip.
    static Clock::duration StationWait(const LineSettings& line, std::chrono::microseconds network);
    // One station's share of a scan: its request, the wait, the silent
    // interval before the next.
    static Clock::duration StationTime(const LineSettings& line, Clock::duration wait);

private:
    struct Chunk {
        std::vector<unsigned char> bytes;
        Clock::time_point at;
    };

    void Read();
    // Runs the line's handlers until `until`, or until `enough` holds.
    template <class Enough>
    void Pump(Clock::time_point until, Enough enough);
    void ThrowIfFailed();
    void WaitForQuiet(const LineSettings& line, Clock::duration longest);
    std::optional<ScanFinding> TryStation(const LineSettings& line, std::uint8_t station,
                                          Clock::duration wait);
    void ShowProgress(std::size_t framing, std::size_t station, std::size_t found);
    Clock::duration WaitFor(const LineSettings& line) const;
    Clock::duration PlannedFrom(std::size_t framing, std::size_t station) const;

    boost::asio::io_context& io_;
    SerialLine& line_;
    ScanProbe& probe_;
    Plan plan_;
    std::ostream& out_;
    std::ostream& progress_;
    bool progress_on_terminal_;
    boost::asio::signal_set stop_signals_;
    bool stop_ = false;
    std::vector<Chunk> chunks_;
    Clock::time_point last_byte_;
    std::optional<boost::system::error_code> failure_;
    Clock::time_point started_;
    Clock::duration planned_done_{};
};
