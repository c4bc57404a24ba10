// The defaults that follow from the line once it is open: the answer
// timeout from its framing and a gateway's round trip, the late limit from
// the answer timeout; what is given stays.
#include "BenchOptions.h"
#include "LineChoices.h"

#include "ParseWords.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

LineSettings Line(int baud, Parity parity) {
    LineSettings line;
    line.baud = baud;
    line.parity = parity;
    return line;
}

struct DefaultsRow {
    std::vector<std::string> words;
    LineSettings line;
    milliseconds network;
    unsigned long timeout_ms;
    unsigned long late_limit_ms;
    bool timeout_resolved;
};

const DefaultsRow kRows[] = {
    {{}, Line(9600, Parity::kNone), milliseconds(0), 500, 2000, true},
    {{}, Line(9600, Parity::kEven), milliseconds(0), 550, 2200, true},
    {{}, Line(19200, Parity::kNone), milliseconds(0), 250, 1000, true},
    {{}, Line(9600, Parity::kNone), milliseconds(3), 503, 2012, true},
    // The late limit follows the given timeout, up to the longest wait.
    {{"--timeout", "150"}, Line(9600, Parity::kNone), milliseconds(3), 150, 600, false},
    {{"--timeout", "20000"}, Line(9600, Parity::kNone), milliseconds(0), 20000,
     BenchOptions::kLongestWaitMs, false},
    {{"--late-limit", "700"}, Line(9600, Parity::kNone), milliseconds(0), 500, 700, true},
    {{"--timeout", "100", "--late-limit", "90"}, Line(1200, Parity::kNone), milliseconds(0), 100, 90,
     false},
};

TEST(OptionDefaultsTest, TimesFollowTheLineUnlessGiven) {
    for (const DefaultsRow& row : kRows) {
        BenchOptions options = ParseWords(row.words);
        const std::string name = ::testing::PrintToString(row.words);
        EXPECT_EQ(options.ResolveTimes(row.line, row.network), row.timeout_resolved) << name;
        EXPECT_EQ(options.timeout_ms, row.timeout_ms) << name;
        EXPECT_EQ(options.late_limit_ms, row.late_limit_ms) << name;
    }
}

TEST(OptionDefaultsTest, TheLineIsTheDriversWhereTheOptionsSayNothing) {
    const LineSettings driver = Line(9600, Parity::kNone);
    const LineSettings same = ParseWords({}).LineFrom(driver);
    EXPECT_EQ(LineChoices::FramingText(same), LineChoices::FramingText(driver));
    const LineSettings changed =
        ParseWords({"--baud", "19200", "--parity", "even", "--stop-bits", "2"}).LineFrom(driver);
    EXPECT_EQ(changed.baud, 19200);
    EXPECT_EQ(changed.parity, Parity::kEven);
    EXPECT_EQ(changed.stop_bits, 2);
    EXPECT_EQ(changed.data_bits, driver.data_bits);
}

}  // namespace
