#pragma once

#include "FaultPlan.h"
#include "LineFaults.h"
#include "LineSettings.h"
#include "RequestReader.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct SimulatedMeterOptions {
    // The stations on the line; the first is the default one of the faults.
    std::vector<std::uint8_t> stations{1};
    // Sets the pace of its answers and the framing its meters hear: bytes
    // the host sends at another speed, parity or stop bits are garbage to them.
    LineSettings line;
    FaultPlan faults;
    std::chrono::milliseconds late_delay = FaultPlan::kDefaultLateDelay;
    int following_gap_characters = kFollowingGapCharacters;
    bool echo = false;  // the line echoes every byte sent, as many adapters do
    LineFaults line_faults;  // what the line does to every answer
};

// Meters on the far end of a pseudo-terminal, one line. Whoever opens
// PortPath() as a serial port talks to them: every Read Input Registers
// request addressed to one of its stations (checksum intact) is answered
// with that station's 58-byte block of SimulatedReadings, sent at the line's
// pace, one byte per character time, so the other side receives it in many
// small chunks as from a real line. Requests for other stations and stray
// bytes get no answer. With echo, every byte that arrives goes straight
// back, before any answer to it.
//
// The line's faults act on whatever goes back: stray bytes follow every
// answer frame as its next characters; a babbling device sends a byte
// every period from Start(); a transport delay hands every byte over that
// much later, and bursts hold them until the next multiple of the burst
// period since Start(), both keeping their order.
//
// Each station answers on its own, as the meters of a real line do, and a
// busy one answers the requests it took in the order they came: a request
// that arrives while an answer of its station is still due is answered 4
// character times after that answer ends (a late answer: the late delay
// after it ends); a busy fault makes it ignore the request instead. Two
// stations answering at once garble each other on the line, as they would
// on a real one.
class SimulatedMeter {
public:
    static constexpr std::size_t kShortLength = 30;  // bytes of a cut-short answer
    static constexpr std::size_t kExtraLength = 4;   // bytes trailing an answer
    static const std::vector<unsigned char> kNoise;  // bytes sent before a noisy answer
    // A corrupt answer's flipped bit: in the low byte of the first reading.
    static constexpr std::size_t kCorruptByte = 10;
    static constexpr unsigned char kCorruptBit = 0x04;
    // The neighbour's answer carries its readings of answer number N + this
    // (N the request's), readings no request of a shorter run is answered with.
    static constexpr std::uint32_t kNeighbourAnswerOffset = 1000;
    // The answer of standard length: station, function, byte count, the 21
    // registers asked for (bytes 3 to 44 of the block), checksum.
    static constexpr std::size_t kStandardLength = 47;
    // An exception answer: station, function with its top bit set, the
    // exception code (illegal data address), checksum.
    static constexpr unsigned char kExceptionCode = 0x02;
    static constexpr std::size_t kExceptionLength = 5;
    // What the line's stray bytes and a babbling device send.
    static const std::vector<unsigned char> kStray;
    static constexpr unsigned char kBabbleByte = 0xFF;

    // Called on the meter's thread for every request addressed to one of its
    // stations, with the request's number (from 1, for its station) and the
    // fault its answer carries: kBusy for a request not taken, kNone for a
    // busy one taken as usual.
    using RequestObserver =
        std::function<void(const ReadRequest& request, std::uint32_t number, MeterFault fault)>;

    // Opens the pseudo-terminal pair; throws std::system_error when the
    // system has none to give, std::invalid_argument when the faults name
    // two for one request of the first station.
    explicit SimulatedMeter(SimulatedMeterOptions options);
    ~SimulatedMeter();
    SimulatedMeter(const SimulatedMeter&) = delete;
    SimulatedMeter& operator=(const SimulatedMeter&) = delete;

    // The bytes sent in answer to request `number` (from 1) carrying `fault`;
    // empty for a silent one, the usual answer for a busy one taken. Tests
    // recompute a round's own answer with it.
    static std::vector<unsigned char> AnswerTo(std::uint8_t station, std::uint32_t number,
                                               MeterFault fault);
    // The same as the frames sent one after the other, each the options'
    // following gap after the one before: two for a repeated
    // answer and a neighbour's after it, else one (none for a silent one).
    static std::vector<std::vector<unsigned char>> FramesTo(std::uint8_t station,
                                                            std::uint32_t number, MeterFault fault);
    // The 47-byte answer of the registers asked for.
    static std::vector<unsigned char> StandardAnswer(std::uint8_t station, std::uint32_t number);
    static std::vector<unsigned char> ExceptionAnswer(std::uint8_t station);

    // The serial device to open, such as /dev/pts/3.
    const std::string& PortPath() const { return port_path_; }

    // Set before Start().
    void SetRequestObserver(RequestObserver observer) { observer_ = std::move(observer); }

    // Serves requests on a thread of its own until Stop() or destruction.
    void Start();
    void Stop();

private:
    struct Reply {
        std::vector<unsigned char> bytes;
        std::chrono::steady_clock::time_point request_end;  // its last byte on a real line
        std::chrono::steady_clock::duration delay;  // from the request's end, or the answer before
    };

    void OpenPseudoTerminal();
    void ReadMore();
    void HeardGarbage(std::size_t len);
    void Echo(unsigned char* data, std::size_t len, bool garbled);
    // Every byte for the host goes through here: the line's transport delay
    // and bursts, then the pseudo-terminal.
    void Deliver(const unsigned char* data, std::size_t len);
    void HandOverDue();
    void WaitForHandOver();
    // What the pseudo-terminal does not take at once is lost, as on a line
    // nobody listens to: a babbling line must not block the meter.
    void Write(const unsigned char* data, std::size_t len);
    void Babble();
    // The fault of the request's answer; kNone for no station of the line.
    MeterFault Take(const ReadRequest& request, std::chrono::steady_clock::time_point request_end);
    std::chrono::steady_clock::time_point RequestEnd(std::chrono::steady_clock::time_point first_byte) const;
    std::vector<Reply> RepliesTo(std::uint8_t station, std::uint32_t number, MeterFault fault) const;
    // Whether an answer of the station is still due or going out.
    bool Answering(std::uint8_t station) const;
    // One station's answers still to send, in order.
    struct Outbox {
        explicit Outbox(boost::asio::io_context& io) : pace_timer(io) {}
        boost::asio::steady_timer pace_timer;
        std::deque<Reply> replies;
        bool sending = false;
        std::size_t bytes_sent = 0;
        std::chrono::steady_clock::time_point reply_starts_at;
    };

    void Queue(std::uint8_t station, Reply reply);
    void StartNextReply(Outbox& outbox);
    void SendDueBytes(Outbox& outbox);

    SimulatedMeterOptions options_;
    // The line's, to the clock's nanosecond: whole microseconds would be
    // 2 µs for the 2.5 of 4 Mbaud, a line faster than its wire.
    std::chrono::steady_clock::duration character_time_;
    boost::asio::io_context io_;
    boost::asio::posix::stream_descriptor master_;
    int slave_fd_ = -1;
    std::string port_path_;
    RequestObserver observer_;
    std::thread thread_;

    RequestReader reader_;
    std::chrono::steady_clock::time_point pending_since_;  // arrival of the reader's oldest byte
    unsigned char receive_buffer_[256] = {};
    std::map<std::uint8_t, std::uint32_t> requests_taken_;  // by station

    std::map<std::uint8_t, std::unique_ptr<Outbox>> outboxes_;  // by station

    // Bytes on their way to the host, due in this order.
    struct InTransit {
        std::chrono::steady_clock::time_point due;
        std::vector<unsigned char> bytes;
    };
    std::chrono::steady_clock::time_point started_;  // the line's faults count from here
    std::deque<InTransit> in_transit_;
    boost::asio::steady_timer transit_timer_;
    boost::asio::steady_timer babble_timer_;
    std::chrono::steady_clock::time_point next_babble_;
};
