// The exchange's judgement of an answer, fed bytes and arrival times in
// process: each row is a line's behaviour and what must come of it.
#include "Exchange.h"
#include "ModbusCrc.h"
#include "SimulatedReadings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = Exchange::Clock;
using std::chrono::microseconds;

// 9600 baud 8N1: 10 bits a character.
constexpr microseconds kCharacter{1042};
const std::vector<unsigned char> kRequest = {0x01, 0x04, 0x00, 0x00, 0x00, 0x15, 0x31, 0xC5};

Exchange::Line LineOf(bool echo = false, bool check_checksum = true) {
    return Exchange::Line{kCharacter, SimulatedReadings::kBlockLength, echo, check_checksum};
}

std::vector<unsigned char> Block(std::uint8_t station = 1) {
    return SimulatedReadings::AnswerBlock(station, 1);
}

std::vector<unsigned char> WithChecksum(std::vector<unsigned char> frame) {
    const std::uint16_t crc = ModbusChecksum(frame.data(), frame.size());
    frame.push_back(static_cast<unsigned char>(crc & 0xFF));
    frame.push_back(static_cast<unsigned char>(crc >> 8));
    return frame;
}

struct Outcome {
    bool answered = false;
    std::size_t to_meter = 0;
    std::optional<LossReason> lost;
    std::string note;
};

// Feeds `bytes` in chunks of `chunk` bytes, the last arriving `after` the
// request's end; then, unless answered or lost, the timeout.
Outcome Feed(const Exchange::Line& line, const std::vector<unsigned char>& bytes,
            microseconds after, std::size_t chunk = 1000) {
    const Clock::time_point request_end = Clock::time_point() + std::chrono::seconds(1);
    Exchange exchange(line, 1, kRequest, request_end);
    Outcome outcome;
    for (std::size_t at = 0; at < bytes.size() && !outcome.answered && !outcome.lost; at += chunk) {
        const std::size_t len = std::min(chunk, bytes.size() - at);
        const Exchange::Step step = exchange.Feed(bytes.data() + at, len, request_end + after);
        outcome.to_meter += step.meter_len;
        outcome.answered = step.answered;
        if (step.loss) {
            outcome.lost = step.loss->reason;
            outcome.note = step.loss->note;
        }
    }
    if (!outcome.answered && !outcome.lost) {
        const Exchange::Loss loss = exchange.TimedOut(500);
        outcome.lost = loss.reason;
        outcome.note = loss.note;
    }
    return outcome;
}

const microseconds kOnTime = kCharacter * 70;

TEST(ExchangeTest, AWholeAnswerIsTheRequestsOnlyWhenTheLineCouldHaveCarriedItSinceTheRequest) {
    // 58 characters and the 1.5 that end a frame: 61.98 ms at 9600 baud.
    const microseconds floor =
        std::chrono::duration_cast<microseconds>(Exchange::AnswerFloor(LineOf()));
    EXPECT_EQ(floor, kCharacter * 3 / 2 + kCharacter * 58);
    struct Row {
        microseconds after;
        bool answered;
    };
    for (const Row& row : std::vector<Row>{{microseconds(0), false},
                                           {kCharacter * 50, false},
                                           {floor - microseconds(1), false},
                                           {floor, true},
                                           {kOnTime, true},
                                           {std::chrono::seconds(10), true}}) {
        SCOPED_TRACE(row.after.count());
        const Outcome outcome = Feed(LineOf(), Block(), row.after);
        EXPECT_EQ(outcome.answered, row.answered);
        if (!row.answered) {
            EXPECT_EQ(outcome.lost, LossReason::kTooEarly);
            EXPECT_EQ(outcome.note.rfind("lost: a whole answer ", 0), 0u) << outcome.note;
            // The last bytes never reach the meter, which would decode them.
            EXPECT_LT(outcome.to_meter, Block().size());
        }
    }
}

TEST(ExchangeTest, EachLossIsNamedByWhatTheLineCarried) {
    const std::vector<unsigned char> block = Block();
    std::vector<unsigned char> corrupt = block;
    corrupt[10] ^= 0x04;
    // A block of another make, its checksum after 40 bytes, then filler.
    std::vector<unsigned char> elsewhere =
        WithChecksum(std::vector<unsigned char>(block.begin(), block.begin() + 40));
    elsewhere.resize(58, 0xAA);
    std::vector<unsigned char> standard = {0x01, 0x04, 42};
    standard.resize(45, 0x11);
    standard = WithChecksum(standard);
    const std::vector<unsigned char> exception = WithChecksum({0x01, 0x84, 0x02});
    std::vector<unsigned char> echo_then_answer = kRequest;
    echo_then_answer.insert(echo_then_answer.end(), block.begin(), block.end());
    std::vector<unsigned char> bad_echo = kRequest;
    bad_echo.back() ^= 0xFF;

    struct Row {
        const char* what;
        Exchange::Line line;
        std::vector<unsigned char> bytes;
        std::optional<LossReason> lost;  // none: answered
        std::string note_starts;
    };
    const std::vector<Row> rows = {
        {"the block", LineOf(), Block(), std::nullopt, ""},
        {"a flipped bit", LineOf(), corrupt, LossReason::kBadChecksum,
         "lost: the answer's checksum does not match its bytes; not handed to the meter"},
        {"a flipped bit, unchecked", LineOf(false, false), corrupt, std::nullopt, ""},
        {"a checksum elsewhere", LineOf(), elsewhere, LossReason::kBadChecksum,
         "lost: the answer's checksum does not match its bytes; not handed to the meter (a "
         "checksum of its first 40 bytes sits at bytes 40 and 41)"},
        {"another station", LineOf(), Block(2), LossReason::kWrongStation,
         "lost: the answer starts with 02, not station 1's address"},
        {"station 247", LineOf(), Block(247), LossReason::kWrongStation,
         "lost: the answer starts with F7, not station 1's address"},
        {"a broadcast address", LineOf(), Block(0), LossReason::kNoise,
         "lost: the answer starts with 00"},
        {"a reserved address", LineOf(), Block(248), LossReason::kNoise,
         "lost: the answer starts with F8"},
        {"half the block", LineOf(), std::vector<unsigned char>(block.begin(), block.begin() + 30),
         LossReason::kShort, "lost: 30 bytes, no complete answer within 500 ms"},
        {"the standard form", LineOf(), standard, LossReason::kStandardForm,
         "lost: this meter answers in the standard 47-byte form; the driver takes a fixed 58-byte block"},
        {"an exception", LineOf(), exception, LossReason::kException,
         "lost: the meter answered Modbus exception 02 (illegal data address)"},
        {"nothing", LineOf(), {}, LossReason::kNoAnswer, "lost: no answer within 500 ms"},
        {"the echo, then the block", LineOf(true), echo_then_answer, std::nullopt, ""},
        {"a garbled echo", LineOf(true), bad_echo, LossReason::kEchoMismatch, "lost: the echo "},
        {"half an echo", LineOf(true), {0x01, 0x04, 0x00}, LossReason::kNoAnswer,
         "lost: 3 of 8 echo bytes, no answer within 500 ms"},
        {"an echo read as the answer", LineOf(), echo_then_answer, LossReason::kBadChecksum,
         "lost: the answer's checksum does not match"},
    };
    for (const Row& row : rows)
        for (std::size_t chunk : {std::size_t{1}, std::size_t{16}, std::size_t{1000}}) {
            SCOPED_TRACE(std::string(row.what) + ", chunks of " + std::to_string(chunk));
            const Outcome outcome = Feed(row.line, row.bytes, kOnTime, chunk);
            EXPECT_EQ(outcome.lost, row.lost) << outcome.note;
            EXPECT_EQ(outcome.note.rfind(row.note_starts, 0), 0u) << outcome.note;
            if (!row.lost) {
                EXPECT_EQ(outcome.to_meter, Block().size());
            }
        }
}

// Bytes in the same chunk as the answer's last ones are not the meter's:
// it gets exactly its block, and the rest is the tail.
TEST(ExchangeTest, TheMeterGetsTheBlockAndNotTheBytesThatFollowItInOneChunk) {
    std::vector<unsigned char> bytes = Block();
    bytes.insert(bytes.end(), {0x00, 0x01, 0x04});
    Exchange exchange(LineOf(), 1, kRequest, Clock::time_point());
    const Exchange::Step step = exchange.Feed(bytes.data(), bytes.size(), Clock::time_point() + kOnTime);
    EXPECT_TRUE(step.answered);
    EXPECT_FALSE(step.loss);
    EXPECT_EQ(step.meter_len, Block().size());
    EXPECT_EQ(step.tail_begin, Block().size());
}

TEST(ExchangeTest, AFewBytesThatCannotBeginAFrameLeaveTheAnswerStandingAnythingElseVoidsIt) {
    struct Row {
        std::vector<unsigned char> tail;
        bool harmless;
    };
    const std::vector<Row> rows = {
        {{0x00}, true},
        {{0xFF}, true},
        {{0xF8, 0x00}, true},
        {{0x00, 0x00, 0x00, 0x00}, true},        // the most a glitch may leave
        {{0x00, 0x00, 0x00, 0x00, 0x00}, false},  // one more may be a frame
        {{0x01}, false},                          // a station's address
        {{0xF7}, false},                          // the highest one
        {{0x00, 0x01, 0x04}, true},               // a glitch, then three bytes and silence
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.tail));
        AnswerTail whole;
        whole.Feed(row.tail.data(), row.tail.size());
        EXPECT_EQ(whole.Harmless(), row.harmless);
        AnswerTail bytewise;  // chunks as a USB adapter hands them over
        for (unsigned char byte : row.tail)
            bytewise.Feed(&byte, 1);
        EXPECT_EQ(bytewise.Harmless(), row.harmless);
    }
    AnswerTail one;
    const unsigned char station = 0x01;
    one.Feed(&station, 1);
    EXPECT_EQ(one.Note(),
              "lost: 1 more byte followed the answer, so it may be an earlier request's; not stored");
}

}  // namespace

// The longest wait between two chunks of the answer is what the line's
// delivery held back; bytes where the echo should be that differ in more
// than one place from the request may be another frame, not a garbled echo.
TEST(ExchangeTest, TheAnswersPausesAndAnEchosDifferencesAreMeasured) {
    const Clock::time_point request_end = Clock::time_point() + std::chrono::seconds(1);
    const std::vector<unsigned char> block = Block();
    Exchange bursts(LineOf(), 1, kRequest, request_end);
    const std::size_t cuts[] = {0, 10, 40, block.size()};
    const microseconds arrivals[] = {microseconds(70000), microseconds(86000), microseconds(88000)};
    for (std::size_t i = 0; i < 3; ++i)
        bursts.Feed(block.data() + cuts[i], cuts[i + 1] - cuts[i], request_end + arrivals[i]);
    EXPECT_EQ(bursts.LongestPause(), microseconds(16000));

    struct EchoRow {
        const char* name;
        std::vector<unsigned char> echo;
        bool may_be_a_frame;
    };
    std::vector<unsigned char> last_byte_garbled = kRequest;
    last_byte_garbled.back() ^= 0xFF;
    std::vector<unsigned char> answer_start(block.begin(), block.begin() + kRequest.size());
    const std::vector<EchoRow> rows = {
        {"one byte garbled on the line", last_byte_garbled, false},
        {"an answer where the echo should be", answer_start, true},
    };
    for (const EchoRow& row : rows) {
        Exchange exchange(LineOf(true), 1, kRequest, request_end);
        const Exchange::Step step = exchange.Feed(row.echo.data(), row.echo.size(), request_end);
        ASSERT_TRUE(step.loss.has_value()) << row.name;
        EXPECT_EQ(step.loss->reason, LossReason::kEchoMismatch) << row.name;
        EXPECT_EQ(exchange.EchoMayBeAFrame(), row.may_be_a_frame) << row.name;
    }
}
