// The settings files a scan writes: one per meter found with its block,
// each with its station and a data id no other file in the folder has, and
// the wait a scan gives each station, within the minute a line of 247 takes.
#include "LineChoices.h"
#include "LineScan.h"
#include "ScanSettings.h"
#include "ScratchDirectory.h"

#include <json/reader.h>

#include <gtest/gtest.h>

#include <fstream>

namespace {

ScanFinding Found(std::uint8_t station, ScanFinding::Kind kind, const char* framing = "9600:8N1") {
    ScanFinding finding;
    finding.station = station;
    finding.kind = kind;
    finding.line = LineChoices::ParseFraming(framing);
    return finding;
}

Json::Value Read(const std::string& path) {
    std::ifstream in(path);
    Json::Value tree;
    Json::CharReaderBuilder builder;
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(builder, in, &tree, &errors)) << path << ": " << errors;
    return tree;
}

TEST(ScanSettingsTest, EachMeterGetsItsStationAndADataIdOfItsOwn) {
    ScratchDirectory scratch;
    const std::string folder = scratch.File("line");
    std::filesystem::create_directories(folder);
    // Already there: a file of another meter holding 1205, and station 9's
    // own from an earlier scan.
    std::ofstream(folder + "/other.json") << "{ \"dataId\": 1205, \"stationAddress\": 77 }\n";
    std::ofstream(folder + "/" + ScanSettings::FileName(9)) << "{ \"dataId\": 4242 }\n";

    Json::Value given;
    given["dataId"] = 1;
    given["appSetting"]["b_mode"] = "3";
    const std::vector<ScanFinding> found = {
        Found(5, ScanFinding::Kind::kMeterBlock),
        Found(9, ScanFinding::Kind::kMeterBlock),
        Found(5, ScanFinding::Kind::kMeterBlock, "9600:8N2"),  // the same meter again
        Found(6, ScanFinding::Kind::kMeterBlock),
        Found(12, ScanFinding::Kind::kStandard),
        Found(13, ScanFinding::Kind::kException),
        Found(14, ScanFinding::Kind::kGarbage),
    };
    const auto written = ScanSettings::Write(folder, found, given);

    struct Row {
        std::uint8_t station;
        std::uint32_t data_id;
        const char* why;
    };
    const Row rows[] = {
        {5, 1206, "1205 is another file's"},
        {9, 4242, "its own file's id kept"},
        {6, 1207, "1206 was just given to station 5"},
    };
    ASSERT_EQ(written.size(), std::size(rows)) << "meters with their block only, once each";
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(written[i].station, rows[i].station);
        EXPECT_EQ(written[i].data_id, rows[i].data_id) << rows[i].why;
        EXPECT_EQ(written[i].path, folder + "/" + ScanSettings::FileName(rows[i].station));
        const Json::Value tree = Read(written[i].path);
        EXPECT_EQ(tree["stationAddress"].asInt(), rows[i].station);
        EXPECT_EQ(tree["dataId"].asUInt(), rows[i].data_id);
        EXPECT_EQ(tree["appSetting"]["b_mode"].asString(), "3") << "the given settings kept";
    }
    EXPECT_EQ(LineChoices::FramingText(written[0].line), "9600:8N1") << "the first framing found";
}

TEST(ScanSettingsTest, AFolderThatCannotBeMadeIsNamed) {
    ScratchDirectory scratch;
    std::ofstream(scratch.File("file")) << "x";
    EXPECT_THROW(ScanSettings::Write(scratch.File("file") + "/line",
                                     {Found(5, ScanFinding::Kind::kMeterBlock)}, Json::Value()),
                 std::exception);
}

// The wait follows the framing: at 9600 8N1 a station takes its request,
// its answer's own time, the turnaround allowance and a silent interval,
// and 247 of them stay under a minute.
TEST(ScanTimingTest, AStationsWaitIsItsAnswersTimeAndTheTurnaround) {
    struct Row {
        const char* framing;
        double wait_ms;  // 59.5 characters and 100 ms
        double line_of_247_s;
    };
    const Row rows[] = {
        {"9600:8N1", 59.5 * 10 / 9.6 + 100, 43.0},
        {"19200:8E1", 59.5 * 11 / 19.2 + 100, 34.7},
        {"1200:8N1", 59.5 * 10 / 1.2 + 100, 170.8},
    };
    for (const Row& row : rows) {
        const LineSettings line = LineChoices::ParseFraming(row.framing);
        const auto wait = LineScan::StationWait(line, std::chrono::microseconds(0));
        const double wait_ms = std::chrono::duration<double, std::milli>(wait).count();
        EXPECT_NEAR(wait_ms, row.wait_ms, 0.01)
            << row.framing;
        const double line_s = std::chrono::duration<double>(LineScan::StationTime(line, wait)).count() * 247;
        EXPECT_NEAR(line_s, row.line_of_247_s, 0.1) << row.framing;
    }
    const LineSettings line = LineChoices::ParseFraming("9600:8N1");
    EXPECT_LT(std::chrono::duration<double>(
                  LineScan::StationTime(line, LineScan::StationWait(line, {})) * 247)
                  .count(),
              60.0);
    EXPECT_EQ(LineScan::StationWait(line, std::chrono::microseconds(2500)) -
                  LineScan::StationWait(line, {}),
              std::chrono::microseconds(2500))
        << "a gateway's round trip is waited for too";
}

}  // namespace
