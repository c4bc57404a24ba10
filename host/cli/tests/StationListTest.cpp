// The banner's line-up: runs of consecutive meters in a few words, any
// line-up within the banner's width.
#include "StationList.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::vector<MeterKey> Stations(unsigned first, unsigned last, std::uint32_t first_data_id) {
    std::vector<MeterKey> meters;
    for (unsigned station = first; station <= last; ++station)
        meters.push_back(MeterKey{station, first_data_id + (station - first)});
    return meters;
}

std::vector<MeterKey> Joined(std::vector<std::vector<MeterKey>> parts) {
    std::vector<MeterKey> meters;
    for (const auto& part : parts)
        meters.insert(meters.end(), part.begin(), part.end());
    return meters;
}

TEST(StationListTest, RunsOfMoreThanThreeConsecutiveMetersAreOneItem) {
    const struct {
        const char* name;
        std::vector<MeterKey> meters;
        std::vector<std::string> items;
    } lineups[] = {
        {"one", {{1, 1201}}, {"station 1 data id 1201"}},
        {"three in a row", Stations(1, 3, 1201),
         {"station 1 data id 1201", "station 2 data id 1202", "station 3 data id 1203"}},
        {"four in a row", Stations(1, 4, 1201), {"stations 1-4 data ids 1201-1204"}},
        {"the whole bus", Stations(1, 247, 1001), {"stations 1-247 data ids 1001-1247"}},
        {"data ids out of step", {{1, 10}, {2, 12}, {3, 14}, {4, 16}},
         {"station 1 data id 10", "station 2 data id 12", "station 3 data id 14",
          "station 4 data id 16"}},
        {"two runs and a stray",
         Joined({Stations(1, 10, 100), {{20, 7}}, Stations(30, 33, 500)}),
         {"stations 1-10 data ids 100-109", "station 20 data id 7",
          "stations 30-33 data ids 500-503"}},
        {"polled backwards", {{4, 4}, {3, 3}, {2, 2}, {1, 1}},
         {"station 4 data id 4", "station 3 data id 3", "station 2 data id 2",
          "station 1 data id 1"}},
    };
    for (const auto& lineup : lineups)
        EXPECT_EQ(StationListItems(lineup.meters), lineup.items) << lineup.name;
}

// 247 meters that make no run: every item, in order, none cut, no line
// over the width.
TEST(StationListTest, ALongLineUpWrapsWithinTheWidthKeepingEveryItemWhole) {
    std::vector<MeterKey> meters;
    for (unsigned station = 1; station <= 247; ++station)
        meters.push_back(MeterKey{station, 4294967295u - 2 * station});
    const std::vector<std::string> items = StationListItems(meters);
    ASSERT_EQ(items.size(), 247u);
    const std::string text = WrappedList("bench host: 247 qvt7702 meters from ./qvt7702.so:", items, 100);
    std::istringstream lines(text);
    std::string joined;
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_LE(line.size(), 100u) << line;
        EXPECT_EQ(line.rfind(count == 0 ? "bench host: " : "  station ", 0), 0u) << line;
        joined += (count == 0 ? "" : " ") + line.substr(line.find_first_not_of(' '));
    }
    EXPECT_GT(count, 60u);
    std::string expected = "bench host: 247 qvt7702 meters from ./qvt7702.so:";
    for (std::size_t i = 0; i < items.size(); ++i)
        expected += " " + items[i] + (i + 1 < items.size() ? "," : "");
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(WrappedList("short:", {"a", "b"}, 100), "short: a, b");
}

}  // namespace
