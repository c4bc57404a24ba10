// Framings and station lists as a person types them: what each text means,
// and the reason a bad one is refused.
#include "LineChoices.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(LineChoicesTest, AFramingIsSpeedDataParityAndStopBits) {
    struct Row {
        const char* text;
        int baud;
        Parity parity;
        int stop_bits;
    };
    const Row rows[] = {
        {"9600:8N1", 9600, Parity::kNone, 1},   {"19200:8E1", 19200, Parity::kEven, 1},
        {"1200:8o1", 1200, Parity::kOdd, 1},    {"115200:8N2", 115200, Parity::kNone, 2},
        {"4800:8E2", 4800, Parity::kEven, 2},
    };
    for (const Row& row : rows) {
        const LineSettings line = LineChoices::ParseFraming(row.text);
        EXPECT_EQ(line.baud, row.baud) << row.text;
        EXPECT_EQ(line.parity, row.parity) << row.text;
        EXPECT_EQ(line.stop_bits, row.stop_bits) << row.text;
        EXPECT_EQ(line.data_bits, 8) << row.text;
    }
    for (const char* bad : {"9600", "9600:7N1", "9600:8X1", "9600:8N3", "0:8N1", "4000001:8N1",
                            ":8N1", "96OO:8N1", "9600:8N1x", ""})
        EXPECT_THROW(LineChoices::ParseFraming(bad), std::invalid_argument) << bad;
}

TEST(LineChoicesTest, FramingsAreTakenInOrderOnceEach) {
    const auto lines = LineChoices::ParseFramings("19200:8E1,9600:8N1,19200:8e1");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(LineChoices::FramingText(lines[0]), "19200:8E1");
    EXPECT_EQ(LineChoices::FramingText(lines[1]), "9600:8N1");
    EXPECT_THROW(LineChoices::ParseFramings("9600:8N1,"), std::invalid_argument);
}

TEST(LineChoicesTest, StationsAreRangesAndSingles) {
    struct Row {
        const char* text;
        const char* folded;  // nullptr: refused
        std::size_t count;
    };
    const Row rows[] = {
        {"1-247", "1-247", 247}, {"1-20,30", "1-20,30", 21}, {"30,1-3,2", "1-3,30", 4},
        {"7", "7", 1},           {"5-5", "5", 1},           {"0-10", nullptr, 0},
        {"1-248", nullptr, 0},   {"10-1", nullptr, 0},      {"1,,3", nullptr, 0},
        {"a-b", nullptr, 0},     {"", nullptr, 0},          {"1-", nullptr, 0},
    };
    for (const Row& row : rows) {
        if (row.folded == nullptr) {
            EXPECT_THROW(LineChoices::ParseStations(row.text), std::invalid_argument) << row.text;
            continue;
        }
        const auto stations = LineChoices::ParseStations(row.text);
        EXPECT_EQ(stations.size(), row.count) << row.text;
        EXPECT_EQ(LineChoices::StationsText(stations), row.folded) << row.text;
    }
}

TEST(LineChoicesTest, TheCommonLinesAreEverySpeedAtEveryFraming) {
    const auto lines = LineChoices::CommonLines();
    EXPECT_EQ(lines.size(), 8u * 4u);
    EXPECT_EQ(LineChoices::FramingText(lines.front()), "9600:8N1") << "the most used first";
    int lowest = lines.front().baud;
    int highest = lowest;
    for (const LineSettings& line : lines) {
        lowest = std::min(lowest, line.baud);
        highest = std::max(highest, line.baud);
    }
    EXPECT_EQ(lowest, 1200);
    EXPECT_EQ(highest, 115200);
}

}  // namespace
