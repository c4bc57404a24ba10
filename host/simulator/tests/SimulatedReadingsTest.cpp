// The simulated meter's answer block and the readings it carries.
#include "ModbusCrc.h"
#include "SimulatedReadings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(SimulatedReadingsTest, AnswerBlockCarriesTheWordsWhereTheMeterDecodesThem) {
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

TEST(SimulatedReadingsTest, ReadingsAreRealisticAndVarySlowly) {
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

}  // namespace
