// Character times and silent intervals against values worked out by hand:
// bits per character = start + data + parity + stop.
#include "LineSettings.h"

#include <gtest/gtest.h>

namespace {

struct Expected {
    const char* name;
    LineSettings line;
    double microseconds;
};

TEST(LineSettingsTest, CharacterTimeCountsStartDataParityAndStopBits) {
    const Expected cases[] = {
        {"9600 8N1", LineSettings::Framed(9600, Parity::kNone, 1), 1041.6667},   // 10 bits
        {"9600 8E1", LineSettings::Framed(9600, Parity::kEven, 1), 1145.8333},   // 11 bits
        {"9600 8N2", LineSettings::Framed(9600, Parity::kNone, 2), 1145.8333},   // 11 bits
        {"115200 8N1", LineSettings::Framed(115200, Parity::kNone, 1), 86.8056},
        {"115200 8E1", LineSettings::Framed(115200, Parity::kEven, 1), 95.4861},
        {"115200 8N2", LineSettings::Framed(115200, Parity::kNone, 2), 95.4861},
    };
    for (const Expected& expected : cases)
        EXPECT_NEAR(expected.line.CharacterTime().count(), expected.microseconds, 1e-3)
            << expected.name;

    EXPECT_EQ(LineSettings::Framed(9600, Parity::kOdd, 1).CharacterBits(), 11)
        << "odd parity is a bit too";
    LineSettings seven_bits = LineSettings::Framed(9600, Parity::kEven, 1);
    seven_bits.data_bits = 7;
    EXPECT_EQ(seven_bits.CharacterBits(), 10);
}

// 3.5 characters up to 19200 baud, a fixed 1.75 ms above it.
TEST(LineSettingsTest, SilentIntervalIsFixedOnlyAbove19200Baud) {
    const Expected cases[] = {
        {"9600 8N1", LineSettings::Framed(9600, Parity::kNone, 1), 3645.8333},
        {"19200 8N1", LineSettings::Framed(19200, Parity::kNone, 1), 1822.9167},
        {"19200 8E1", LineSettings::Framed(19200, Parity::kEven, 1), 2005.2083},
        {"19201 8N1", LineSettings::Framed(19201, Parity::kNone, 1), 1750.0},
        {"115200 8N2", LineSettings::Framed(115200, Parity::kNone, 2), 1750.0},
    };
    for (const Expected& expected : cases)
        EXPECT_NEAR(expected.line.SilentInterval().count(), expected.microseconds, 1e-3)
            << expected.name;
}

// 3.5 characters at every speed, but never longer than the silent interval.
TEST(LineSettingsTest, ShortestFrameEndIsThreeAndAHalfCharactersAtMost) {
    const Expected cases[] = {
        {"9600 8N1", LineSettings::Framed(9600, Parity::kNone, 1), 3645.8333},
        {"19201 8N1", LineSettings::Framed(19201, Parity::kNone, 1), 1750.0},
        {"115200 8N1", LineSettings::Framed(115200, Parity::kNone, 1), 303.8194},
        {"4000000 8N1", LineSettings::Framed(4000000, Parity::kNone, 1), 8.75},
    };
    for (const Expected& expected : cases)
        EXPECT_NEAR(expected.line.ShortestFrameEnd().count(), expected.microseconds, 1e-3)
            << expected.name;
}

}  // namespace

namespace {

// 480 characters: exactly 500 ms at 9600 8N1; each extra bit a character
// lengthens it, and a part of a millisecond counts as a whole one.
TEST(LineSettingsTest, DefaultAnswerTimeoutFollowsTheCharacterTime) {
    EXPECT_EQ(LineSettings::Framed(9600, Parity::kNone, 1).DefaultAnswerTimeout().count(), 500);
    EXPECT_EQ(LineSettings::Framed(9600, Parity::kEven, 1).DefaultAnswerTimeout().count(), 550);
    EXPECT_EQ(LineSettings::Framed(9600, Parity::kOdd, 2).DefaultAnswerTimeout().count(), 600);
    EXPECT_EQ(LineSettings::Framed(19200, Parity::kNone, 1).DefaultAnswerTimeout().count(), 250);
    EXPECT_EQ(LineSettings::Framed(1200, Parity::kNone, 1).DefaultAnswerTimeout().count(), 4000);
    // 41.67 ms, rounded up
    EXPECT_EQ(LineSettings::Framed(115200, Parity::kNone, 1).DefaultAnswerTimeout().count(), 42);
}

TEST(LineSettingsTest, FramingNamesDataBitsParityAndStopBits) {
    EXPECT_EQ(LineSettings{}.Framing(), "8N1");
    EXPECT_EQ(LineSettings::Framed(9600, Parity::kEven, 2).Framing(), "8E2");
    EXPECT_EQ(LineSettings::Framed(9600, Parity::kOdd, 1).Framing(), "8O1");
}

}  // namespace

// One table of parity words: each names its parity and back, nothing else does.
TEST(ParityWordTest, EachParityHasItsWordAndOnlyThoseWordsNameOne) {
    for (const Parity parity : {Parity::kNone, Parity::kEven, Parity::kOdd})
        EXPECT_EQ(ParityNamed(ParityWord(parity)), parity);
    EXPECT_STREQ(ParityWord(Parity::kEven), "even");
    EXPECT_STREQ(ParityWord(Parity::kOdd), "odd");
    for (const char* other : {"", "mark", "Even", "e", "none "})
        EXPECT_EQ(ParityNamed(other), std::nullopt) << other;
}
