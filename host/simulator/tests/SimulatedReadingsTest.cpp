// The simulated meter's answer block and the readings it carries.
#include "ModbusCrc.h"
#include "SimulatedReadings.h"

#include <gtest/gtest.h>

#include <map>

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

// A test tells whose answer a record holds by its twelve words: no answer
// of one station may equal any early answer of another, and the block
// carries the station's own words under its address.
TEST(SimulatedReadingsTest, EveryStationsAnswersAreItsOwn) {
    std::map<SimulatedReadings::Words, int> owner;
    for (int station : {1, 2, 3, 10, 11, 12, 246, 247})
        for (std::uint32_t answer = 1; answer <= 300; ++answer) {
            const auto [at, fresh] = owner.emplace(
                SimulatedReadings::WordsOf(static_cast<std::uint8_t>(station), answer), station);
            if (!fresh) {
                EXPECT_EQ(at->second, station) << "station " << station << " answer " << answer
                                               << " repeats station " << at->second << "'s";
            }
            const SimulatedReadings::Words& words = at->first;
            EXPECT_NEAR(words[4], 23000 + 200 * ((station + 9) % 10), 250) << station;
        }
    EXPECT_EQ(SimulatedReadings::WordsOf(1, 9), SimulatedReadings::WordsOf(9));

    const std::vector<unsigned char> block = SimulatedReadings::AnswerBlock(3, 4);
    EXPECT_EQ(block[0], 3);
    const SimulatedReadings::Words words = SimulatedReadings::WordsOf(3, 4);
    EXPECT_EQ(block[9 + 2 * 4] * 256 + block[10 + 2 * 4], words[4]);
}

}  // namespace
