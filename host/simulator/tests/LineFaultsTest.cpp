// The simulated line's own faults as the options give them.
#include "LineFaults.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct LineFaultText {
    std::vector<std::string> texts;
    std::vector<std::string> taken;  // as Texts() gives them back; empty when refused
    std::string refusal;
};

TEST(LineFaultsTest, EachKindTakesItsFigureOrItsDefault) {
    const std::vector<LineFaultText> rows = {
        {{"stray"}, {"stray=1"}, ""},
        {{"stray=2", "babble"}, {"stray=2", "babble=100"}, ""},
        {{"bursts", "delay"}, {"bursts=16", "delay=30"}, ""},
        {{"delay=250", "bursts=1"}, {"bursts=1", "delay=250"}, ""},
        {{"stray=3"}, {}, "stray=3: BYTES must be from 1 to 2"},
        {{"stray=0"}, {}, "from 1 to 2"},
        {{"babble=5"}, {}, "babble=5: MS must be from 10 to 60000"},
        {{"delay=60001"}, {}, "from 1 to 60000"},
        {{"delay=-4"}, {}, "bad figure '-4' in 'delay=-4'"},
        {{"delay="}, {}, "bad figure ''"},
        {{"delay=3ms"}, {}, "bad figure '3ms'"},
        {{"loud"}, {}, "unknown line fault 'loud' in 'loud' (known: stray[=BYTES]"},
        {{"delay", "delay=40"}, {}, "line fault delay given twice"},
    };
    for (const LineFaultText& row : rows) {
        LineFaults faults;
        std::string refusal;
        try {
            for (const std::string& text : row.texts)
                faults.Add(text);
        } catch (const std::invalid_argument& failure) {
            refusal = failure.what();
        }
        if (row.refusal.empty()) {
            EXPECT_EQ(refusal, "") << row.texts.front();
            EXPECT_EQ(faults.Texts(), row.taken) << row.texts.front();
        } else {
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << row.texts.front() << ": "
                                                                    << refusal;
        }
    }

    LineFaults line;
    EXPECT_FALSE(line.Any());
    line.Add("delay=45");
    line.Add("stray=2");
    EXPECT_TRUE(line.Any());
    EXPECT_EQ(line.TransportDelay(), std::chrono::milliseconds(45));
    EXPECT_EQ(line.StrayBytes(), 2);
    EXPECT_EQ(line.BurstPeriod(), std::chrono::milliseconds(0));
    EXPECT_EQ(line.BabblePeriod(), std::chrono::milliseconds(0));
}

}  // namespace
