// The simulated meter through its pseudo-terminal, read the way a host
// reads a serial line.
#include "ModbusCrc.h"
#include "SimulatedMeter.h"
#include "SimulatedReadings.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <ostream>
#include <thread>
#include <utility>

namespace {

using std::chrono::milliseconds;

const std::vector<unsigned char> kMeterPoll = {0x01, 0x04, 0x00, 0x00, 0x00, 0x15, 0x31, 0xC5};

// The meter's poll, addressed to another station.
std::vector<unsigned char> PollTo(std::uint8_t station) {
    std::vector<unsigned char> poll = kMeterPoll;
    poll[0] = station;
    const std::uint16_t crc = ModbusChecksum(poll.data(), 6);
    poll[6] = crc & 0xFF;
    poll[7] = crc >> 8;
    return poll;
}

std::vector<unsigned char> Joined(std::vector<unsigned char> first,
                                  const std::vector<unsigned char>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

struct Received {
    std::vector<unsigned char> bytes;
    int chunks = 0;
    milliseconds first_after{-1};
    // Each chunk's first byte and its arrival.
    std::vector<std::pair<std::size_t, std::chrono::steady_clock::time_point>> arrivals;

    // The time between the arrival of byte `at` and that of the byte before.
    std::chrono::microseconds PauseBefore(std::size_t at) const {
        for (std::size_t i = 1; i < arrivals.size(); ++i)
            if (arrivals[i].first == at)
                return std::chrono::duration_cast<std::chrono::microseconds>(arrivals[i].second -
                                                                            arrivals[i - 1].second);
        return std::chrono::microseconds(0);  // in the same chunk as the byte before
    }
};

class SimulatedMeterTest : public ::testing::Test {
protected:
    void Serve(SimulatedMeterOptions options, SimulatedMeter::RequestObserver observer = nullptr) {
        if (port >= 0)
            close(port);
        meter = std::make_unique<SimulatedMeter>(std::move(options));
        meter->SetRequestObserver(std::move(observer));
        meter->Start();
        port = open(meter->PortPath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(port, 0);
    }

    void TearDown() override {
        if (port >= 0)
            close(port);
    }

    // Sends the bytes, then gathers what comes back until the line has been
    // quiet for `quiet`.
    Received Exchange(const std::vector<unsigned char>& request, milliseconds quiet = milliseconds(150)) {
        const auto sent = std::chrono::steady_clock::now();
        EXPECT_EQ(write(port, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        Received received;
        pollfd wait{port, POLLIN, 0};
        while (poll(&wait, 1, static_cast<int>(quiet.count())) > 0) {
            unsigned char chunk[256];
            const ssize_t len = read(port, chunk, sizeof chunk);
            if (len <= 0)
                break;
            const auto now = std::chrono::steady_clock::now();
            if (received.chunks++ == 0)
                received.first_after = std::chrono::duration_cast<milliseconds>(now - sent);
            received.arrivals.emplace_back(received.bytes.size(), now);
            received.bytes.insert(received.bytes.end(), chunk, chunk + len);
        }
        return received;
    }

    // Gathers what comes for `span`, however busy the line.
    Received Listen(milliseconds span) {
        Received received;
        const auto until = std::chrono::steady_clock::now() + span;
        pollfd wait{port, POLLIN, 0};
        for (auto now = std::chrono::steady_clock::now(); now < until;
             now = std::chrono::steady_clock::now()) {
            const auto left = std::chrono::duration_cast<milliseconds>(until - now).count();
            if (poll(&wait, 1, static_cast<int>(left) + 1) <= 0)
                continue;
            unsigned char chunk[256];
            const ssize_t len = read(port, chunk, sizeof chunk);
            if (len <= 0)
                break;
            ++received.chunks;
            received.arrivals.emplace_back(received.bytes.size(), std::chrono::steady_clock::now());
            received.bytes.insert(received.bytes.end(), chunk, chunk + len);
        }
        return received;
    }

    std::unique_ptr<SimulatedMeter> meter;
    int port = -1;
};

TEST_F(SimulatedMeterTest, AnswersEachRequestWithTheNextBlockAtTheLinesPace) {
    Serve(SimulatedMeterOptions{});
    for (std::uint32_t answer = 1; answer <= 2; ++answer) {
        const Received received = Exchange(kMeterPoll);
        EXPECT_EQ(received.bytes, SimulatedReadings::AnswerBlock(1, answer));
        EXPECT_GT(received.chunks, 3) << "58 bytes at about 1 ms a byte come in pieces";
    }
}

TEST_F(SimulatedMeterTest, IgnoresOtherStationsAndDamagedRequests) {
    SimulatedMeterOptions options;
    options.stations = {2};
    Serve(options);
    EXPECT_TRUE(Exchange(kMeterPoll).bytes.empty()) << "addressed to station 1";

    std::vector<unsigned char> to_two = kMeterPoll;
    to_two[0] = 2;
    const std::uint16_t crc = ModbusChecksum(to_two.data(), 6);
    to_two[6] = crc & 0xFF;
    to_two[7] = crc >> 8;
    std::vector<unsigned char> damaged = to_two;
    damaged[3] = 0x01;
    EXPECT_TRUE(Exchange(damaged).bytes.empty());

    EXPECT_EQ(Exchange(to_two).bytes, SimulatedReadings::AnswerBlock(2, 1))
        << "only requests it took are counted";
}

TEST_F(SimulatedMeterTest, FaultsShapeTheAnswerToTheirRequest) {
    SimulatedMeterOptions options;
    options.late_delay = milliseconds(300);
    for (const char* fault : {"silent@1", "short@2", "extra@3", "noise@4", "station@5", "late@6",
                             "corrupt@7"})
        options.faults.Add(fault);
    Serve(options);

    EXPECT_TRUE(Exchange(kMeterPoll).bytes.empty());

    std::vector<unsigned char> expected = SimulatedReadings::AnswerBlock(1, 2);
    expected.resize(SimulatedMeter::kShortLength);
    EXPECT_EQ(Exchange(kMeterPoll).bytes, expected);

    expected = SimulatedReadings::AnswerBlock(1, 3);
    expected.insert(expected.end(), SimulatedMeter::kExtraLength, 0x5A);
    EXPECT_EQ(Exchange(kMeterPoll).bytes, expected);

    expected = SimulatedMeter::kNoise;
    const std::vector<unsigned char> block = SimulatedReadings::AnswerBlock(1, 4);
    expected.insert(expected.end(), block.begin(), block.end());
    EXPECT_EQ(Exchange(kMeterPoll).bytes, expected);

    const std::vector<unsigned char> foreign = Exchange(kMeterPoll).bytes;
    EXPECT_EQ(foreign, SimulatedReadings::AnswerBlock(2, 5)) << "as if station 2 had answered";

    const Received late = Exchange(kMeterPoll, milliseconds(400));
    EXPECT_EQ(late.bytes, SimulatedReadings::AnswerBlock(1, 6));
    EXPECT_GE(late.first_after, milliseconds(290));

    // One bit off, the meter's checksum kept: only a checksum test tells.
    const std::vector<unsigned char> corrupt = Exchange(kMeterPoll).bytes;
    expected = SimulatedReadings::AnswerBlock(1, 7);
    ASSERT_EQ(corrupt.size(), expected.size());
    EXPECT_FALSE(ModbusChecksumMatches(corrupt.data(), corrupt.size()));
    expected[SimulatedMeter::kCorruptByte] ^= SimulatedMeter::kCorruptBit;
    EXPECT_EQ(corrupt, expected);
}

// A busy meter: requests that come while a late answer is still due are
// answered after it, in order, each the answer to its own request.
TEST_F(SimulatedMeterTest, AnswersRequestsQueuedBehindALateAnswerInOrder) {
    SimulatedMeterOptions options;
    options.late_delay = milliseconds(200);
    options.faults.Add("late@1");
    options.faults.Add("short@3");
    std::mutex taken_lock;
    std::vector<std::pair<std::uint32_t, MeterFault>> taken;
    Serve(options, [&](const ReadRequest&, std::uint32_t number, MeterFault fault) {
        std::lock_guard<std::mutex> hold(taken_lock);
        taken.emplace_back(number, fault);
    });

    std::vector<unsigned char> three_requests;
    for (int i = 0; i < 3; ++i)
        three_requests.insert(three_requests.end(), kMeterPoll.begin(), kMeterPoll.end());
    const Received received = Exchange(three_requests, milliseconds(400));

    std::vector<unsigned char> expected;
    for (std::uint32_t number = 1; number <= 3; ++number) {
        const std::vector<unsigned char> answer =
            SimulatedMeter::AnswerTo(1, number, options.faults.At(number));
        expected.insert(expected.end(), answer.begin(), answer.end());
    }
    EXPECT_EQ(received.bytes, expected);
    EXPECT_GE(received.first_after, milliseconds(190)) << "the first answer is the late one";
    std::lock_guard<std::mutex> hold(taken_lock);
    const std::vector<std::pair<std::uint32_t, MeterFault>> in_order = {
        {1, MeterFault::kLate}, {2, MeterFault::kNone}, {3, MeterFault::kShort}};
    EXPECT_EQ(taken, in_order);
}

// Each station on the line counts its own requests and answers with its
// own readings; plain fault numbers are the first station's.
TEST_F(SimulatedMeterTest, ALineOfStationsEachAnswersItsOwn) {
    SimulatedMeterOptions options;
    options.stations = {3, 5};
    options.faults.Add("silent@2");
    options.faults.Add("short@5:2");
    Serve(options);

    EXPECT_EQ(Exchange(PollTo(3)).bytes, SimulatedReadings::AnswerBlock(3, 1));
    EXPECT_EQ(Exchange(PollTo(5)).bytes, SimulatedReadings::AnswerBlock(5, 1));
    EXPECT_TRUE(Exchange(PollTo(3)).bytes.empty()) << "station 3's second request is silent";
    std::vector<unsigned char> short_answer = SimulatedReadings::AnswerBlock(5, 2);
    short_answer.resize(SimulatedMeter::kShortLength);
    EXPECT_EQ(Exchange(PollTo(5)).bytes, short_answer);
    EXPECT_TRUE(Exchange(PollTo(1)).bytes.empty()) << "no station 1 on this line";
    EXPECT_EQ(Exchange(PollTo(3)).bytes, SimulatedReadings::AnswerBlock(3, 3));
}

// An echoing line returns every byte before the answer; an echo fault
// garbles the echo of that request only, and stray bytes are echoed too.
TEST_F(SimulatedMeterTest, AnEchoingLineReturnsTheRequestFirst) {
    SimulatedMeterOptions options;
    options.echo = true;
    options.faults.Add("echo@2");
    Serve(options);

    EXPECT_EQ(Exchange(kMeterPoll).bytes, Joined(kMeterPoll, SimulatedReadings::AnswerBlock(1, 1)));
    std::vector<unsigned char> garbled = kMeterPoll;
    garbled.back() = static_cast<unsigned char>(~garbled.back());
    EXPECT_EQ(Exchange(kMeterPoll).bytes, Joined(garbled, SimulatedReadings::AnswerBlock(1, 2)));
    EXPECT_EQ(Exchange(PollTo(9)).bytes, PollTo(9)) << "echoed, not answered";
    EXPECT_EQ(Exchange(kMeterPoll).bytes, Joined(kMeterPoll, SimulatedReadings::AnswerBlock(1, 3)));
}

// What the far end receives for one request with each fault that changes
// the frames of the answer, and where a second frame starts after a pause.
struct FrameCase {
    const char* name;
    const char* fault;  // in station 1's first request
    std::vector<unsigned char> expected;
    std::size_t second_frame_at;  // 0: one frame only
    int gap_characters = kFollowingGapCharacters;
};

std::ostream& operator<<(std::ostream& out, const FrameCase& row) { return out << row.name; }

class FrameShapeTest : public SimulatedMeterTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameShapeTest, TheFarEndReceivesTheFramesOfTheFault) {
    const FrameCase& row = GetParam();
    SimulatedMeterOptions options;
    options.faults.Add(row.fault);
    options.following_gap_characters = row.gap_characters;
    // Silence of the gap, then the first byte's own character time. A test
    // held up by a busy machine reads the first frame late and sees the
    // pause short, so up to three fresh meters are asked until one shows the
    // full pause; frames run together never show it.
    const auto character =
        std::chrono::duration_cast<std::chrono::microseconds>(LineSettings{}.CharacterTime());
    Received received;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        Serve(options);
        received = Exchange(kMeterPoll);
        if (row.second_frame_at == 0 ||
            received.PauseBefore(row.second_frame_at) >= character * row.gap_characters)
            break;
    }
    EXPECT_EQ(received.bytes, row.expected);
    EXPECT_EQ(received.bytes, SimulatedMeter::AnswerTo(1, 1, options.faults.At(1)));
    if (row.second_frame_at != 0) {
        EXPECT_GE(received.PauseBefore(row.second_frame_at), character * row.gap_characters)
            << "the second frame comes after a gap, not run into the first";
    }
    // Whatever the frames, each one's checksum holds except where the fault
    // is in the bytes themselves.
    std::size_t start = 0;
    for (std::size_t end : {row.second_frame_at, received.bytes.size()}) {
        if (end <= start)
            continue;
        EXPECT_TRUE(ModbusChecksumMatches(received.bytes.data() + start, end - start))
            << "frame at " << start;
        start = end;
    }
}

std::vector<unsigned char> Standard47() {
    // Station, function 4, 42 bytes of 21 registers, checksum.
    std::vector<unsigned char> bytes = SimulatedReadings::AnswerBlock(1, 1);
    bytes.resize(45);
    bytes[2] = 42;
    const std::uint16_t crc = ModbusChecksum(bytes.data(), bytes.size());
    bytes.push_back(crc & 0xFF);
    bytes.push_back(crc >> 8);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FrameShapeTest,
    ::testing::Values(
        FrameCase{"AnswerSentTwice", "twice@1",
                  Joined(SimulatedReadings::AnswerBlock(1, 1), SimulatedReadings::AnswerBlock(1, 1)),
                  58},
        // About 104 ms at 9600 baud: the copy lands where the next request's answer would.
        FrameCase{"AnswerSentTwiceAfterALongGap", "twice@1",
                  Joined(SimulatedReadings::AnswerBlock(1, 1), SimulatedReadings::AnswerBlock(1, 1)),
                  58, 100},
        FrameCase{"NeighbourAnswersRightAfter", "neighbour@1",
                  Joined(SimulatedReadings::AnswerBlock(1, 1),
                         SimulatedReadings::AnswerBlock(2, 1 + SimulatedMeter::kNeighbourAnswerOffset)),
                  58},
        FrameCase{"StandardLength", "standard@1", Standard47(), 0},
        // 0x84: function 4 with the exception bit; 0x02: illegal data address.
        FrameCase{"ExceptionAnswer", "exception@1", {0x01, 0x84, 0x02, 0xC2, 0xC1}, 0},
        FrameCase{"BusyButIdleAnswersAsUsual", "busy@1", SimulatedReadings::AnswerBlock(1, 1), 0}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return info.param.name; });

// The 47-byte answer carries the same registers as the block, where a
// standard reader of 21 registers finds them.
TEST(StandardAnswerTest, CarriesTheRegistersAskedFor) {
    const std::vector<unsigned char> block = SimulatedReadings::AnswerBlock(3, 9);
    const std::vector<unsigned char> standard = SimulatedMeter::StandardAnswer(3, 9);
    ASSERT_EQ(standard.size(), SimulatedMeter::kStandardLength);
    EXPECT_EQ(standard[0], 3);
    EXPECT_EQ(standard[2], 2 * 21);
    EXPECT_TRUE(std::equal(standard.begin() + 3, standard.end() - 2, block.begin() + 3));
    EXPECT_TRUE(ModbusChecksumMatches(standard.data(), standard.size()));
}

// A busy meter ignores a request that comes while an answer of its own is
// still due, and counts it all the same: the next one taken is answered
// with its own number.
struct BusyCase {
    const char* name;
    std::vector<std::string> faults;
    milliseconds second_after;  // the second request, after the first
    std::vector<std::uint32_t> answered;  // of requests 1, 2 and then 3
};

std::ostream& operator<<(std::ostream& out, const BusyCase& row) { return out << row.name; }

class BusyMeterTest : public SimulatedMeterTest, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(BusyMeterTest, ARequestWhileAnsweringIsNotTaken) {
    const BusyCase& row = GetParam();
    SimulatedMeterOptions options;
    options.late_delay = milliseconds(100);
    for (const std::string& fault : row.faults)
        options.faults.Add(fault);
    std::mutex taken_lock;
    std::vector<MeterFault> taken;
    Serve(options, [&](const ReadRequest&, std::uint32_t, MeterFault fault) {
        std::lock_guard<std::mutex> hold(taken_lock);
        taken.push_back(fault);
    });

    ASSERT_EQ(write(port, kMeterPoll.data(), kMeterPoll.size()), 8);
    std::this_thread::sleep_for(row.second_after);
    Received received = Exchange(kMeterPoll, milliseconds(300));
    const std::vector<unsigned char> third = Exchange(kMeterPoll).bytes;
    received.bytes.insert(received.bytes.end(), third.begin(), third.end());

    std::vector<unsigned char> expected;
    for (std::uint32_t number : row.answered)
        expected = Joined(expected, SimulatedMeter::AnswerTo(1, number, options.faults.At(number)));
    EXPECT_EQ(received.bytes.size(), expected.size());
    EXPECT_EQ(received.bytes, expected);
    std::lock_guard<std::mutex> hold(taken_lock);
    EXPECT_EQ(taken.size(), 3u) << "every request counted";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, BusyMeterTest,
    ::testing::Values(
        BusyCase{"SecondDuringTheAnswer", {"busy@2"}, milliseconds(20), {1, 3}},
        BusyCase{"SecondBehindALateAnswer", {"late@1", "busy@2"}, milliseconds(20), {1, 3}},
        BusyCase{"EveryRequest", {"busy@*"}, milliseconds(20), {1, 3}},
        BusyCase{"DuringTheRepeatedAnswer", {"twice@1", "busy@2"}, milliseconds(100), {1, 3}},
        BusyCase{"SecondAfterTheAnswer", {"busy@2"}, milliseconds(150), {1, 2, 3}},
        BusyCase{"NotBusyQueuesIt", {}, milliseconds(20), {1, 2, 3}}),
    [](const ::testing::TestParamInfo<BusyCase>& info) { return info.param.name; });

// The line's faults, as the far end receives one answer through them.
struct LineCase {
    const char* name;
    std::vector<std::string> line_faults;
    std::vector<std::string> faults;
    std::vector<unsigned char> expected;
    milliseconds first_at_least;  // the first byte's arrival after the request
    int most_chunks;              // 0: any
    milliseconds pauses_at_least;  // between chunks, 0: any
};

std::ostream& operator<<(std::ostream& out, const LineCase& row) { return out << row.name; }

class LineFaultTest : public SimulatedMeterTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineFaultTest, EveryAnswerReachesTheFarEndThroughTheLinesFaults) {
    const LineCase& row = GetParam();
    SimulatedMeterOptions options;
    for (const std::string& text : row.line_faults)
        options.line_faults.Add(text);
    for (const std::string& text : row.faults)
        options.faults.Add(text);
    Serve(options);
    const Received received = Exchange(kMeterPoll);
    EXPECT_EQ(received.bytes, row.expected);
    EXPECT_GE(received.first_after, row.first_at_least);
    if (row.most_chunks != 0) {
        EXPECT_LE(received.chunks, row.most_chunks);
    }
    for (std::size_t i = 1; i < received.arrivals.size(); ++i)
        EXPECT_GE(received.arrivals[i].second - received.arrivals[i - 1].second, row.pauses_at_least)
            << "chunk " << i;
}

std::vector<unsigned char> WithStray(std::vector<unsigned char> frame, std::size_t count) {
    frame.insert(frame.end(), SimulatedMeter::kStray.begin(), SimulatedMeter::kStray.begin() + count);
    return frame;
}

const std::vector<unsigned char> kFirstBlock = SimulatedReadings::AnswerBlock(1, 1);

// Without faults the first byte comes 13 characters after the request's
// first (8 of the request, 4 of turnaround, its own): 13.5 ms.
INSTANTIATE_TEST_SUITE_P(
    Line, LineFaultTest,
    ::testing::Values(
        LineCase{"StrayByteAfterEveryAnswer", {"stray"}, {}, WithStray(kFirstBlock, 1),
                 milliseconds(12), 0, milliseconds(0)},
        LineCase{"TwoStrayBytes", {"stray=2"}, {}, WithStray(kFirstBlock, 2), milliseconds(12), 0,
                 milliseconds(0)},
        LineCase{"StrayBytesAfterEachFrame", {"stray"}, {"twice@1"},
                 Joined(WithStray(kFirstBlock, 1), WithStray(kFirstBlock, 1)), milliseconds(12), 0,
                 milliseconds(0)},
        LineCase{"NoStrayBytesWithoutAnAnswer", {"stray"}, {"silent@1"}, {}, milliseconds(-1), 0,
                 milliseconds(0)},
        LineCase{"TransportDelay", {"delay=30"}, {}, kFirstBlock, milliseconds(42), 0,
                 milliseconds(0)},
        // 58 bytes over 60 ms held for ticks 16 ms apart: at most 5 bursts.
        LineCase{"Bursts", {"bursts"}, {}, kFirstBlock, milliseconds(12), 5, milliseconds(12)},
        LineCase{"BurstsThroughAGateway", {"bursts=40", "delay=30"}, {}, kFirstBlock,
                 milliseconds(42), 3, milliseconds(35)}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// A babbling device sends whether anyone asks or not, and the meters still
// answer in between.
TEST_F(SimulatedMeterTest, ABabblingLineSendsAByteEveryPeriod) {
    SimulatedMeterOptions options;
    options.line_faults.Add("babble=100");
    Serve(options);
    std::this_thread::sleep_for(milliseconds(40));  // between two bytes
    tcflush(port, TCIFLUSH);
    const Received heard = Listen(milliseconds(550));
    EXPECT_GE(heard.bytes.size(), 4u);
    EXPECT_LE(heard.bytes.size(), 7u);
    EXPECT_EQ(std::count(heard.bytes.begin(), heard.bytes.end(), SimulatedMeter::kBabbleByte),
              static_cast<long>(heard.bytes.size()));
    for (std::size_t i = 1; i < heard.arrivals.size(); ++i)
        EXPECT_GE(heard.arrivals[i].second - heard.arrivals[i - 1].second, milliseconds(60));

    // The meter answers in between: its block is all there once the
    // babble is taken out of both.
    ASSERT_EQ(write(port, kMeterPoll.data(), kMeterPoll.size()), 8);
    std::vector<unsigned char> answered = Listen(milliseconds(250)).bytes;
    std::vector<unsigned char> block = SimulatedReadings::AnswerBlock(1, 1);
    for (std::vector<unsigned char>* bytes : {&answered, &block})
        bytes->erase(std::remove(bytes->begin(), bytes->end(), SimulatedMeter::kBabbleByte),
                     bytes->end());
    EXPECT_EQ(answered, block);
}

}  // namespace
