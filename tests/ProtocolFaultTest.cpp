// Exchanges that meters and serial lines get wrong, driven the way the
// controller drives a meter: RefreshStatus at every poll, then process() for
// each chunk of bytes received.
//
// The driver takes the answer as exactly 58 bytes counted from the start of
// an exchange and examines nothing else in it; the framework (here its
// stand-in) drops bytes left over from an unfinished exchange at the next
// poll. Each test states how many rounds its sequence loses, and checks that
// a lost exchange publishes nothing and renews no time stamp: the previous
// round's values stay served as that round's, and age from its time.
#include "MeterAnswer.h"
#include "ProbeFixture.h"
#include "QVT7702.h"

#include <cstdint>

namespace {

using boost::posix_time::ptime;
using boost::posix_time::seconds;
using Bytes = std::vector<unsigned char>;

class ProtocolFaultTest : public ProbeFixture {
protected:
    // Every sequence starts after one good round, made to look 30 seconds old
    // so that a renewed time stamp would show.
    void SetUp() override {
        ProbeFixture::SetUp();
        Poll();
        ASSERT_EQ(Receive(Answer(1)), 0);
        ASSERT_EQ(Rounds(), 1u);
        previous_round_ = Now() - seconds(30);
        meter.last_update_ = previous_round_;
    }

    // Answer n: a meter answer whose phase A voltage word is 23000 + n, so
    // the value served tells which answer it came from.
    static Bytes Answer(int n) {
        std::array<std::uint16_t, 12> words = TypicalWords();
        words[4] = static_cast<std::uint16_t>(23000 + n);
        return MeterAnswer(words);
    }
    static float UaOf(int n) { return (23000.0f + static_cast<float>(n)) / 100.0f; }

    static Bytes Head(const Bytes& bytes, std::size_t count) {
        return Bytes(bytes.begin(), bytes.begin() + count);
    }
    static Bytes Tail(const Bytes& bytes, std::size_t from) {
        return Bytes(bytes.begin() + from, bytes.end());
    }
    static Bytes Join(const Bytes& first, const Bytes& second) {
        Bytes joined = first;
        joined.insert(joined.end(), second.begin(), second.end());
        return joined;
    }

    void Poll() { EXPECT_EQ(meter.RefreshStatus(), 1); }

    // One chunk; returns what process() returned.
    int Receive(Bytes chunk) {
        testing::internal::CaptureStdout();
        const int result = meter.process(chunk.data(), static_cast<unsigned int>(chunk.size()));
        testing::internal::GetCapturedStdout();
        return result;
    }

    // One call per byte; returns how many calls reported the exchange over.
    int ReceiveBytewise(const Bytes& bytes) {
        int over = 0;
        testing::internal::CaptureStdout();
        for (unsigned char byte : bytes)
            over += meter.process(&byte, 1) == 0 ? 1 : 0;
        testing::internal::GetCapturedStdout();
        return over;
    }

    std::size_t Rounds() const { return Probe().CallsNamed("SendSP").size(); }
    float Ua() const { return meter.Get_Value(0, "Ua"); }

    // Nothing new was published since round `rounds`, and answer `served`
    // is still served with its own, unrenewed time.
    void ExpectNothingNew(std::size_t rounds, int served) {
        EXPECT_EQ(Rounds(), rounds);
        EXPECT_EQ(meter.last_update_, previous_round_) << "a lost exchange renews no time stamp";
        EXPECT_EQ(Ua(), UaOf(served));
    }

    QVT7702 meter;
    ptime previous_round_;
};

// Lost: 1 round, the short exchange. Its 57 bytes wait in the buffer until
// the next poll drops them; the next answer is then taken whole.
TEST_F(ProtocolFaultTest, AnswerOneByteShortLosesOnlyItsOwnExchange) {
    Poll();
    EXPECT_EQ(Receive(Head(Answer(2), 57)), 1);
    ExpectNothingNew(1, 1);

    Poll();
    EXPECT_EQ(Receive(Answer(3)), 0);
    EXPECT_EQ(Rounds(), 2u);
    EXPECT_EQ(Ua(), UaOf(3));
}

// Lost: 1 round. Noise inside an exchange puts the answer off its length,
// whether it comes in a chunk of its own or in front of the answer.
TEST_F(ProtocolFaultTest, NoiseBeforeAnAnswerLosesThatExchange) {
    const Bytes noise{0x00, 0xFF, 0x13};
    Poll();
    EXPECT_EQ(Receive(noise), 1);
    EXPECT_EQ(Receive(Answer(2)), 1);
    ExpectNothingNew(1, 1);

    Poll();
    EXPECT_EQ(Receive(Join(noise, Answer(3))), 1);
    ExpectNothingNew(1, 1);

    Poll();
    EXPECT_EQ(Receive(Answer(4)), 0);
    EXPECT_EQ(Rounds(), 2u);
    EXPECT_EQ(Ua(), UaOf(4));
}

// Lost: 0 rounds. Noise between exchanges is dropped by the next poll.
TEST_F(ProtocolFaultTest, NoiseWhileIdleIsDroppedByTheNextPoll) {
    EXPECT_EQ(Receive(Bytes{0x00, 0xFF, 0x13}), 1);
    Poll();
    EXPECT_EQ(Receive(Answer(2)), 0);
    EXPECT_EQ(Rounds(), 2u);
    EXPECT_EQ(Ua(), UaOf(2));
}

// Lost: 1 round. 116 bytes never make exactly 58, so neither answer is
// served; the next exchange is clean.
TEST_F(ProtocolFaultTest, TwoAnswersInOneChunkLoseThatExchange) {
    Poll();
    EXPECT_EQ(Receive(Join(Answer(2), Answer(3))), 1);
    ExpectNothingNew(1, 1);

    Poll();
    EXPECT_EQ(Receive(Answer(4)), 0);
    EXPECT_EQ(Ua(), UaOf(4));
}

// Lost: 0 answers. Poll 1's answer arrives whole after poll 2 went out,
// followed by poll 2's own. Modbus RTU answers carry no sequence number, so
// the late one is taken as poll 2's: published with poll 2's time (its values
// are one poll interval old), then replaced by the on-time answer.
TEST_F(ProtocolFaultTest, WholeLateAnswerIsServedUntilTheOnTimeOneArrives) {
    Poll();
    Poll();
    EXPECT_EQ(Receive(Answer(2)), 0);
    EXPECT_EQ(Rounds(), 2u);
    EXPECT_EQ(Ua(), UaOf(2));
    EXPECT_EQ(Receive(Answer(3)), 0);
    EXPECT_EQ(Rounds(), 3u);
    EXPECT_EQ(Ua(), UaOf(3)) << "the on-time answer replaces the late one";
}

// Lost: 2 rounds. Poll 2 cuts poll 1's answer: the poll drops its head, and
// its tail then sits in front of poll 2's answer, so that exchange is lost
// too. Nothing of either answer is served; poll 3 is clean.
TEST_F(ProtocolFaultTest, LateAnswerCutByThePollAlsoCostsTheNextExchange) {
    const Bytes late = Answer(2);
    Poll();
    EXPECT_EQ(Receive(Head(late, 30)), 1);
    Poll();
    EXPECT_EQ(Receive(Tail(late, 30)), 1);
    EXPECT_EQ(Receive(Answer(3)), 1);
    ExpectNothingNew(1, 1);

    Poll();
    EXPECT_EQ(Receive(Answer(4)), 0);
    EXPECT_EQ(Ua(), UaOf(4));
}

// The hazard of counting bytes: when the on-time answer arrives in pieces,
// the late tail (28 bytes) and the answer's first 30 bytes make exactly 58,
// and that misframed block is decoded and published as a round. Its words
// are the late answer's trailing registers and the filler, not a reading.
// Nothing in the block (address, function code, checksum) is examined, so
// the driver cannot refuse it.
TEST_F(ProtocolFaultTest, LateTailPlusPartOfTheNextAnswerIsPublishedMisframed) {
    const Bytes late = Answer(2);
    const Bytes on_time = Answer(3);
    Poll();
    Receive(Head(late, 30));
    Poll();
    EXPECT_EQ(Receive(Tail(late, 30)), 1);
    EXPECT_EQ(Receive(Head(on_time, 30)), 0);
    EXPECT_EQ(Rounds(), 2u);
    EXPECT_EQ(Ua(), static_cast<float>(0xEEEE) / 100.0f) << "filler bytes decoded as phase A";
    EXPECT_EQ(Receive(Tail(on_time, 30)), 1);
}

// Lost: 1 round. A 4096-byte chunk fills the buffer exactly: accepted, never
// decoded. The next byte would overflow it: dropped, buffer emptied, the
// exchange reported over.
TEST_F(ProtocolFaultTest, ChunkOf4096BytesLosesThatExchange) {
    Poll();
    EXPECT_EQ(Receive(Bytes(4096, 0x5A)), 1);
    EXPECT_EQ(meter.rx_length_, 4096);
    EXPECT_EQ(Receive(Bytes{0x01}), 0);
    EXPECT_EQ(meter.rx_length_, 0);
    ExpectNothingNew(1, 1);

    Poll();
    EXPECT_EQ(Receive(Head(Answer(2), 10)), 1);
    EXPECT_EQ(Receive(Bytes(4096, 0x5A)), 0) << "4096 more than the buffer has room for";
    EXPECT_EQ(meter.rx_length_, 0);
    ExpectNothingNew(1, 1);

    Poll();
    EXPECT_EQ(Receive(Answer(3)), 0);
    EXPECT_EQ(Ua(), UaOf(3));
}

// Lost: 0 rounds for an answer delivered one byte per call: it is decoded
// on the 58th byte, once. A flood of noise byte by byte costs the exchange
// its answer, and every 58 bytes of it complete a block that is decoded and
// published like an answer (nothing in a block is checked); the buffer
// never fills, and the next poll drops the remainder.
TEST_F(ProtocolFaultTest, FloodOfSingleBytes) {
    Poll();
    EXPECT_EQ(ReceiveBytewise(Answer(2)), 1);
    EXPECT_EQ(Rounds(), 2u);
    EXPECT_EQ(Ua(), UaOf(2));

    Poll();
    EXPECT_EQ(ReceiveBytewise(Bytes(200, 0x55)), 3);
    EXPECT_EQ(Rounds(), 5u);
    EXPECT_EQ(meter.rx_length_, 200 - 3 * 58);
    EXPECT_EQ(Ua(), static_cast<float>(0x5555) / 100.0f);

    Poll();
    EXPECT_EQ(Receive(Answer(3)), 0);
    EXPECT_EQ(Rounds(), 6u);
    EXPECT_EQ(Ua(), UaOf(3));
}

}  // namespace
