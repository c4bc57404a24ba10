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

#include <chrono>
#include <mutex>
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
};

class SimulatedMeterTest : public ::testing::Test {
protected:
    void Serve(SimulatedMeterOptions options, SimulatedMeter::RequestObserver observer = nullptr) {
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
            if (received.chunks++ == 0)
                received.first_after =
                    std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - sent);
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

}  // namespace
