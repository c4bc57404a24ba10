#include "FaultPlan.h"
#include "ModbusCrc.h"
#include "RequestReader.h"
#include "SimulatedReadings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace {

const std::vector<unsigned char> kMeterPoll = {0x01, 0x04, 0x00, 0x00, 0x00, 0x15, 0x31, 0xC5};

std::vector<ReadRequest> FeedBytewise(RequestReader& reader, const std::vector<unsigned char>& bytes) {
    std::vector<ReadRequest> found;
    for (unsigned char byte : bytes)
        for (const ReadRequest& request : reader.Feed(&byte, 1))
            found.push_back(request);
    return found;
}

TEST(ModbusFramingTest, ChecksumIsModbusCrcLowByteFirst) {
    EXPECT_EQ(ModbusChecksum(kMeterPoll.data(), 6), 0xC531);
    EXPECT_TRUE(ModbusChecksumMatches(kMeterPoll.data(), kMeterPoll.size()));
    std::vector<unsigned char> swapped = kMeterPoll;
    std::swap(swapped[6], swapped[7]);
    EXPECT_FALSE(ModbusChecksumMatches(swapped.data(), swapped.size()));
}

TEST(ModbusFramingTest, ReaderFindsRequestsAmongNoiseAndOtherFrames) {
    RequestReader reader;
    std::vector<unsigned char> line = {0xFF, 0x00, 0x13};       // noise
    std::vector<unsigned char> holding = kMeterPoll;           // function 3: not ours
    holding[1] = 0x03;
    const std::uint16_t crc = ModbusChecksum(holding.data(), 6);
    holding[6] = crc & 0xFF;
    holding[7] = crc >> 8;
    std::vector<unsigned char> corrupted = kMeterPoll;         // bad checksum
    corrupted[5] = 0x16;
    std::vector<unsigned char> station7 = {0x07, 0x04, 0x00, 0x02, 0x00, 0x03, 0, 0};
    const std::uint16_t crc7 = ModbusChecksum(station7.data(), 6);
    station7[6] = crc7 & 0xFF;
    station7[7] = crc7 >> 8;
    for (const std::vector<unsigned char>& part : {holding, corrupted, kMeterPoll, station7})
        line.insert(line.end(), part.begin(), part.end());

    const std::vector<ReadRequest> found = FeedBytewise(reader, line);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].station, 1);
    EXPECT_EQ(found[0].start, 0);
    EXPECT_EQ(found[0].quantity, 21);
    EXPECT_EQ(found[1].station, 7);
    EXPECT_EQ(found[1].start, 2);
    EXPECT_EQ(found[1].quantity, 3);
    EXPECT_EQ(reader.Pending(), 0u);

    // Half a request waits for the rest.
    EXPECT_TRUE(reader.Feed(kMeterPoll.data(), 5).empty());
    EXPECT_EQ(reader.Feed(kMeterPoll.data() + 5, 3).size(), 1u);
}

TEST(ModbusFramingTest, AnswerBlockCarriesTheWordsWhereTheMeterDecodesThem) {
    const std::vector<unsigned char> block = SimulatedReadings::AnswerBlock(1, 7);
    ASSERT_EQ(block.size(), 58u);
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], 4);
    EXPECT_EQ(block[2], 53);
    EXPECT_EQ(block[7] * 256 + block[8], 7) << "sequence number";
    EXPECT_TRUE(ModbusChecksumMatches(block.data(), block.size()));

    const SimulatedReadings::Words words = SimulatedReadings::WordsOf(7);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(block[9 + 2 * i] * 256 + block[10 + 2 * i], words[i]) << "word " << i;
}

TEST(ModbusFramingTest, ReadingsAreRealisticAndVarySlowly) {
    for (std::uint32_t answer = 1; answer < 500; ++answer) {
        const SimulatedReadings::Words now = SimulatedReadings::WordsOf(answer);
        const SimulatedReadings::Words next = SimulatedReadings::WordsOf(answer + 1);
        for (int phase = 4; phase <= 6; ++phase) {
            EXPECT_NEAR(now[phase], 23000, 250) << "phase voltage, answer " << answer;
            EXPECT_NEAR(now[phase], next[phase], 30) << "step, answer " << answer;
        }
        for (int line = 1; line <= 3; ++line)
            EXPECT_NEAR(now[line], 39840, 450) << "line voltage, answer " << answer;
        EXPECT_NEAR(now[1], std::sqrt(3.0) * (now[4] + now[5]) / 2.0, 2.0);
        EXPECT_NEAR(now[8], 512, 30);
        EXPECT_NEAR(now[9], 498, 30);
    }
}

TEST(FaultPlanTest, ParsesKindsAndRequestNumbers) {
    FaultPlan plan;
    plan.Add("short@3");
    plan.Add("late@5,9");
    EXPECT_EQ(plan.At(1), MeterFault::kNone);
    EXPECT_EQ(plan.At(3), MeterFault::kShort);
    EXPECT_EQ(plan.At(5), MeterFault::kLate);
    EXPECT_EQ(plan.At(9), MeterFault::kLate);

    for (const char* bad : {"short", "loud@1", "short@0", "short@-1", "short@x", "short@2,",
                            "short@99999999999"})
        EXPECT_THROW(plan.Add(bad), std::invalid_argument) << bad;
}

// One answer carries one fault: a second one for the same request, in the
// same text or a later one, is refused whole, never half taken.
TEST(FaultPlanTest, ASecondFaultForOneRequestIsRefusedAndLeavesThePlanAsItWas) {
    FaultPlan plan;
    plan.Add("late@5,9");
    try {
        plan.Add("station@7,9,11");
        ADD_FAILURE() << "a second fault for request 9 was taken";
    } catch (const std::invalid_argument& failure) {
        EXPECT_STREQ(failure.what(),
                     "two faults for request 9: late and station (one fault per request)");
    }
    EXPECT_EQ(plan.At(7), MeterFault::kNone) << "nothing of the refused text is kept";
    EXPECT_EQ(plan.At(9), MeterFault::kLate);
    EXPECT_EQ(plan.At(11), MeterFault::kNone);

    EXPECT_THROW(plan.Add("late@9"), std::invalid_argument);
    EXPECT_THROW(plan.Add("short@2,3,2"), std::invalid_argument);
    EXPECT_EQ(plan.At(2), MeterFault::kNone);
    plan.Add("short@2,3");
    EXPECT_EQ(plan.At(2), MeterFault::kShort);
}

}  // namespace
