// The decoded history (--dump and --csv) against a record whose every
// element holds a different word, so a column read from the wrong element,
// or scaled the wrong way, shows.
#include "HistoryReport.h"
#include "LocalZone.h"
#include "QVT7702_Data_t.h"

#include <gtest/gtest.h>

#include <boost/algorithm/string/split.hpp>

#include <cstring>
#include <map>
#include <sstream>

namespace {

// Element i holds 1000 * (i + 1) + i: no two alike, none a multiple of 100.
float WordOf(int element) {
    return static_cast<float>(1000 * (element + 1) + element);
}

HistoryRow RowWithDistinctWords() {
    QVT7702_Data_t record;
    std::memset(static_cast<void*>(&record), 0, sizeof record);
    record.data_id = 1201;
    for (int i = 0; i < 12; ++i)
        record.values[i] = WordOf(i);
    record.time_stamp = TTime{2026, 12, 8, 9, 30, 5};
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    HistoryRow row;
    row.row_id = 7;
    row.data_id = 1201;
    row.stored_at = "2026-12-08 09:30:05.250";
    row.record.assign(bytes, bytes + sizeof record);
    return row;
}

// Each signal with the element it is read from, as the meter's register map
// gives it, and its value as the history must show it (two decimals).
const std::map<std::string, std::string> kExpectedSignals = {
    {"Ua", "50.04"},  {"Ub", "60.05"},  {"Uc", "70.06"}, {"Uab", "20.01"},
    {"Ubc", "30.02"}, {"Uca", "40.03"}, {"Ia", "9008.00"}, {"Ic", "10009.00"},
};

std::map<std::string, std::string> CsvColumns(const std::string& csv) {
    std::vector<std::string> lines;
    boost::split(lines, csv, [](char c) { return c == '\n'; });
    EXPECT_EQ(lines.size(), 3u) << csv;  // header, one row, empty rest
    std::vector<std::string> names;
    std::vector<std::string> cells;
    boost::split(names, lines.at(0), [](char c) { return c == ','; });
    boost::split(cells, lines.at(1), [](char c) { return c == ','; });
    EXPECT_EQ(names.size(), cells.size());
    std::map<std::string, std::string> columns;
    for (std::size_t i = 0; i < names.size() && i < cells.size(); ++i)
        columns[names[i]] = cells[i];
    return columns;
}

TEST(HistoryReportTest, CsvColumnsComeFromTheirOwnElements) {
    std::ostringstream csv;
    HistoryReport::WriteCsv(csv, {RowWithDistinctWords()});
    const auto columns = CsvColumns(csv.str());

    EXPECT_EQ(columns.at("row"), "7");
    EXPECT_EQ(columns.at("data_id"), "1201");
    EXPECT_EQ(columns.at("stamp"), "2026-12-08 09:30:05");
    EXPECT_EQ(columns.at(LocalZone::ColumnName("stored_at")), "2026-12-08 09:30:05.250");
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(columns.at("w" + std::to_string(i)),
                  std::to_string(static_cast<int>(WordOf(i))));
    for (const auto& [key, value] : kExpectedSignals) {
        const std::string unit = key[0] == 'U' ? "_V" : "_raw";
        EXPECT_EQ(columns.at(key + unit), value) << key;
    }
}

// The time stored is local time: its column names the zone, by name where
// the machine has one, so a spreadsheet keeps the plain column.
TEST(HistoryReportTest, TheTimeStoredNamesItsZone) {
    const char* saved = std::getenv("TZ");
    const std::string kept = saved != nullptr ? saved : "";
    struct Row {
        const char* tz;
        const char* column;
    };
    const Row rows[] = {
        {"Europe/Berlin", "stored_at_Europe/Berlin"},
        {":America/New_York", "stored_at_America/New_York"},
        {"/usr/share/zoneinfo/Asia/Shanghai", "stored_at_Asia/Shanghai"},
        {"UTC0", "stored_at_UTC0"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", nullptr},  // a rule, not a name: the offset now
    };
    for (const Row& row : rows) {
        setenv("TZ", row.tz, 1);
        tzset();
        std::ostringstream csv;
        HistoryReport::WriteCsv(csv, {});
        const std::string header = csv.str();
        if (row.column != nullptr) {
            EXPECT_EQ(header.rfind(std::string("row,data_id,stamp,") + row.column + ",w0,", 0), 0u)
                << header;
        } else {
            EXPECT_EQ(header.find("stored_at_UTC+0"), 18u) << header;
        }
    }
    if (saved != nullptr)
        setenv("TZ", kept.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(HistoryReportTest, DumpNamesEachSignalNextToItsOwnValue) {
    std::ostringstream text;
    HistoryReport::WriteText(text, {RowWithDistinctWords()});
    const std::string dump = text.str();
    EXPECT_NE(dump.find("#7  stored 2026-12-08 09:30:05.250  data id 1201  stamp 2026-12-08 09:30:05"),
              std::string::npos)
        << dump;
    for (const auto& [key, value] : kExpectedSignals)
        EXPECT_NE(dump.find(" " + key + " " + value + (key == "Ic" ? "\n" : " ")),
                  std::string::npos)
            << key << " in\n" << dump;
}

TEST(HistoryReportTest, RowThatIsNotARecordIsNamedInTheDumpAndLeftOutOfTheCsv) {
    HistoryRow odd;
    odd.row_id = 3;
    odd.data_id = 9;
    odd.record.assign(58, 0);
    std::ostringstream text;
    std::ostringstream csv;
    HistoryReport::WriteText(text, {odd});
    HistoryReport::WriteCsv(csv, {odd, RowWithDistinctWords()});
    EXPECT_NE(text.str().find("device 9: 58 bytes, not a meter record"), std::string::npos);
    EXPECT_EQ(CsvColumns(csv.str()).at("row"), "7");
}

}  // namespace
