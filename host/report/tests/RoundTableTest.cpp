// The live table's value cells: each column shows its own query's value or
// failure, and only a failure shared by every column is shown once.
#include "MeterRecord.h"
#include "RoundTable.h"
#include "RunOutput.h"
#include "VDeviceInterface.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kUnsupported[] = "不支持变量";
const char kNotReady[] = "数据未就绪";

// A meter whose queries answer a distinct value per signal, except for the
// keys given a failure message.
class ScriptedMeter : public VDeviceInterface {
public:
    using VDeviceInterface::LoadFromCache;

    void Fail(const std::string& key, const std::string& message) { failures_[key] = message; }

    float Get_Value(unsigned int, const std::string& key) const override {
        const auto failure = failures_.find(key);
        if (failure != failures_.end())
            throw std::out_of_range(failure->second);
        return ValueOf(key);
    }

    // 100.25 for the first signal, 200.50 for the second...: exact in a float.
    static float ValueOf(const std::string& key) {
        const auto& keys = MeterRecord::SignalKeys();
        for (int i = 0; i < MeterRecord::kSignalCount; ++i)
            if (key == keys[i])
                return 100.25f * static_cast<float>(i + 1);
        return -1.0f;
    }

    int LoadFromCache(const unsigned char*, int) override { return 0; }
    int DeviceIoControl(int, const void*, int, void*, int, int& returned) override {
        returned = 0;
        return 0;
    }
    void RoundDone() override {}

private:
    std::map<std::string, std::string> failures_;
};

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// The words of one row: label, time, station, then the value cells, done
// and lost.
std::vector<std::string> RowOf(const ScriptedMeter& meter) {
    std::ostringstream out;
    RoundTable(out).WriteRow("7", 12, meter, 6, 1, "");
    return Words(out.str());
}

std::string Shown(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    return text;
}

constexpr std::size_t kFirstCell = 3;

TEST(RoundTableTest, AFailingQueryShowsItsMessageInItsOwnColumnOnly) {
    const auto& keys = MeterRecord::SignalKeys();
    for (int failing = 0; failing < MeterRecord::kSignalCount; ++failing) {
        ScriptedMeter meter;
        meter.Fail(keys[failing], kUnsupported);
        const std::vector<std::string> row = RowOf(meter);
        ASSERT_EQ(row.size(), kFirstCell + MeterRecord::kSignalCount + 2) << "failing " << failing;
        for (int column = 0; column < MeterRecord::kSignalCount; ++column) {
            const std::string expected =
                column == failing ? kUnsupported : Shown(ScriptedMeter::ValueOf(keys[column]));
            EXPECT_EQ(row[kFirstCell + column], expected)
                << "column " << keys[column] << ", failing " << keys[failing];
        }
        EXPECT_EQ(row[row.size() - 2], "6");
        EXPECT_EQ(row.back(), "1");
    }
}

TEST(RoundTableTest, AFailureSharedByEveryColumnIsShownOnce) {
    ScriptedMeter meter;
    for (const char* key : MeterRecord::SignalKeys())
        meter.Fail(key, kNotReady);
    const std::vector<std::string> row = RowOf(meter);
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[0], "7");
    EXPECT_EQ(row[2], "12") << "the station";
    EXPECT_EQ(row[kFirstCell], kNotReady);
    EXPECT_EQ(row[4], "6");
    EXPECT_EQ(row[5], "1");
}

// The first and the last column are where a comparison with the first
// failure can go wrong.
TEST(RoundTableTest, FailuresThatDifferShowEachInItsOwnColumn) {
    const auto& keys = MeterRecord::SignalKeys();
    for (int odd_one : {0, MeterRecord::kSignalCount - 1}) {
        ScriptedMeter meter;
        for (int column = 0; column < MeterRecord::kSignalCount; ++column)
            meter.Fail(keys[column], column == odd_one ? kUnsupported : kNotReady);
        const std::vector<std::string> row = RowOf(meter);
        ASSERT_EQ(row.size(), kFirstCell + MeterRecord::kSignalCount + 2) << "odd one " << odd_one;
        for (int column = 0; column < MeterRecord::kSignalCount; ++column)
            EXPECT_EQ(row[kFirstCell + column], column == odd_one ? kUnsupported : kNotReady)
                << "column " << keys[column] << ", odd one " << keys[odd_one];
    }
}

}  // namespace

namespace {

// Each value column's heading names its unit and ends where the column's
// values end, so a reader sees at a glance which figures are volts and
// which the meter's raw words.
TEST(RoundTableHeaderTest, EachValueColumnNamesItsUnitAboveItsValues) {
    std::ostringstream out;
    RoundTable table(out);
    table.WriteHeader();
    ScriptedMeter meter;
    table.WriteRow("1", 7, meter, 1, 0, "");
    std::istringstream lines(out.str());
    std::string header;
    std::string row;
    std::getline(lines, header);
    std::getline(lines, row);
    const auto& keys = MeterRecord::SignalKeys();
    for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
        const std::string heading = std::string(keys[i]) + (keys[i][0] == 'U' ? " V" : " raw");
        const std::size_t at = header.find(" " + heading);
        ASSERT_NE(at, std::string::npos) << heading << " in " << header;
        char value[32];
        std::snprintf(value, sizeof value, "%.2f", static_cast<double>(ScriptedMeter::ValueOf(keys[i])));
        EXPECT_EQ(row.find(value) + std::strlen(value), at + 1 + heading.size())
            << heading << " ends where its value ends:\n" << header << '\n' << row;
    }
}

}  // namespace

namespace {

// What the table writes, the reader the tests and the fault campaign judge
// runs by reads back: every kind of row, the header and a summary line
// between them passed over.
TEST(RoundTableReadBackTest, EveryRowReadsBackAsWritten) {
    std::ostringstream out;
    RoundTable table(out);
    table.WriteHeader();
    ScriptedMeter meter;
    table.WriteRow("cache", 1, meter, 1, 0, "newest record from history, stored 2026-12-08");
    ScriptedMeter not_ready;
    for (const char* key : MeterRecord::SignalKeys())
        not_ready.Fail(key, kNotReady);
    table.WriteRow("12", 247, not_ready, 1, 1, "lost: 58 more bytes followed the answer 7 3");
    table.WriteRowWithoutValues("13", 2, 1, 2, "lost: 12 34");
    out << "done: 13 rounds, 1 completed, 2 lost; 1 records published, 1 stored in h.sqlite\n";
    table.WriteRow("100000", 3, meter, 12345, 7, "");
    // Counts of six digits and more after a value that fills its column.
    ScriptedMeter wide;
    for (const char* key : MeterRecord::SignalKeys())
        wide.Fail(key, "65535.00");
    wide.Fail(MeterRecord::SignalKeys()[0], kNotReady);
    table.WriteRow("100001", 3, wide, 123456, 7654321, "");

    const std::vector<RoundRow> rows = ReadRoundRows(out.str());
    ASSERT_EQ(rows.size(), 5u) << out.str();
    EXPECT_TRUE(rows[0].IsCache());
    EXPECT_EQ(rows[0].round, 0u);
    EXPECT_EQ(rows[0].values.size(), static_cast<std::size_t>(MeterRecord::kSignalCount));
    EXPECT_EQ(rows[0].values[0], Shown(ScriptedMeter::ValueOf(MeterRecord::SignalKeys()[0])));
    EXPECT_EQ(rows[0].note, "newest record from history, stored 2026-12-08");
    EXPECT_EQ(rows[1].round, 12u);
    EXPECT_EQ(rows[1].station, 247);
    EXPECT_EQ(rows[1].values, std::vector<std::string>{kNotReady});
    EXPECT_EQ(rows[1].done, 1u);
    EXPECT_EQ(rows[1].lost, 1u);
    EXPECT_EQ(rows[1].note, "lost: 58 more bytes followed the answer 7 3");
    EXPECT_EQ(rows[2].values, std::vector<std::string>(MeterRecord::kSignalCount, "-"));
    EXPECT_EQ(rows[2].lost, 2u);
    EXPECT_EQ(rows[2].note, "lost: 12 34");
    EXPECT_EQ(rows[3].round, 100000u);
    EXPECT_EQ(rows[3].done, 12345u);
    EXPECT_EQ(rows[3].lost, 7u);
    EXPECT_EQ(rows[3].note, "");
    EXPECT_EQ(rows[4].values.back(), "65535.00");
    EXPECT_EQ(rows[4].done, 123456u);
    EXPECT_EQ(rows[4].lost, 7654321u);
    EXPECT_EQ(ReadPollRows(out.str()).size(), 4u) << "the cache's row is no poll";
}

}  // namespace
