// --dump and --csv written a row at a time: numbers exactly as printf would
// write them, block after block.
#include "BenchError.h"
#include "BulkHistory.h"
#include "HistoryExport.h"
#include "HistoryReport.h"
#include "HistoryStore.h"
#include "QVT7702_Data_t.h"
#include "ScratchDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

namespace {

constexpr int kIaElement = 8;  // served raw: its signal is the word itself

HistoryRow RowWithWord(float word, std::int64_t row_id = 1) {
    QVT7702_Data_t record;
    std::memset(static_cast<void*>(&record), 0, sizeof record);
    record.data_id = 1201;
    record.values[kIaElement] = word;
    record.time_stamp = TTime{2026, 12, 8, 9, 30, 5};
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    return HistoryRow{row_id, 1201, "2026-12-08 09:30:05.250", {bytes, bytes + sizeof record}};
}

std::vector<std::string> CsvCells(const std::string& line) {
    std::vector<std::string> cells;
    std::istringstream text(line);
    for (std::string cell; std::getline(text, cell, ',');)
        cells.push_back(cell);
    return cells;
}

std::string Printed(const char* format, float value) {
    char text[512];
    std::snprintf(text, sizeof text, format, static_cast<double>(value));
    return text;
}

// Rounding ties, values just either side of them, negative zero and small
// negatives, large and tiny values, and what is not a number.
TEST(HistoryReportTest, WordsAndSignalsAreWrittenAsPrintfWritesThem) {
    const float values[] = {
        0.125f, 0.375f, 2.675f, 1.005f, 0.005f, 0.015f, -0.125f, -0.001f, -0.0f, 0.0f,
        230.23f, 514.0f, 9008.5f, 1e9f, 1.5e9f, 123456789.0f, 3.4e38f, -3.4e38f, 1e-30f,
        std::nextafter(0.125f, 1.0f), std::nextafter(0.125f, 0.0f), 16777217.0f, -7.0f,
        std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
    };
    const std::string header = HistoryReport::CsvHeader();
    const std::vector<std::string> names = CsvCells(header.substr(0, header.size() - 1));
    const auto column = [&names](const std::string& name) {
        return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    for (const float value : values) {
        std::string csv;
        ASSERT_TRUE(HistoryReport::AppendCsv(csv, RowWithWord(value)));
        ASSERT_EQ(csv.back(), '\n');
        const std::vector<std::string> cells = CsvCells(csv.substr(0, csv.size() - 1));
        ASSERT_EQ(cells.size(), names.size()) << csv;
        const bool whole = std::floor(value) == value && std::fabs(value) < 1e9f;
        EXPECT_EQ(cells[column("w8")],
                  whole ? std::to_string(static_cast<long long>(value)) : Printed("%g", value))
            << value;
        EXPECT_EQ(cells[column("Ia_raw")], Printed("%.2f", value)) << value;

        std::string text;
        HistoryReport::AppendText(text, RowWithWord(value));
        EXPECT_NE(text.find(" Ia " + Printed("%.2f", value) + " Ic 0.00\n"), std::string::npos)
            << text;
    }
}

class HistoryExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Rows of two devices, and one that is not a record.
        WriteBulkHistory(History(), kRows, [](std::int64_t n) {
            HistoryRow row = RowWithWord(static_cast<float>(n) + 0.5f);
            row.data_id = n % 2 == 0 ? 1201 : 77;
            if (n == 5)
                row.record.resize(20);
            return row;
        });
    }

    std::string History() const { return scratch_.File("history.sqlite"); }

    // What an export writes into a file.
    std::string Exported(HistoryExport::Format format, std::optional<std::uint32_t> data_id) {
        const std::string path = scratch_.File("out.txt");
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        HistoryStore history(History(), HistoryStore::Access::kReadOnly);
        const HistoryExport::Outcome outcome = HistoryExport::Write(history, format, data_id, fd);
        close(fd);
        EXPECT_FALSE(outcome.reader_gone);
        std::ifstream file(path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    static constexpr std::int64_t kRows = 3000;  // many blocks of output
    ScratchDirectory scratch_;
};

// Many 64 KB blocks: nothing lost or doubled where one ends.
TEST_F(HistoryExportTest, WritesWhatTheReportMakesOfTheRowsAskedFor) {
    const std::vector<HistoryRow> all =
        HistoryStore(History(), HistoryStore::Access::kReadOnly).All();
    std::ostringstream text;
    HistoryReport::WriteText(text, all);
    EXPECT_TRUE(Exported(HistoryExport::Format::kText, std::nullopt) == text.str());
    std::vector<HistoryRow> of_77;
    std::copy_if(all.begin(), all.end(), std::back_inserter(of_77),
                 [](const HistoryRow& row) { return row.data_id == 77; });
    std::ostringstream csv;
    HistoryReport::WriteCsv(csv, of_77);
    EXPECT_TRUE(Exported(HistoryExport::Format::kCsv, 77u) == csv.str());
    EXPECT_EQ(Exported(HistoryExport::Format::kCsv, 9u), HistoryReport::CsvHeader());
}

TEST_F(HistoryExportTest, AFullDiskIsAnErrorWithItsCause) {
    HistoryStore history(History(), HistoryStore::Access::kReadOnly);
    const int full = open("/dev/full", O_WRONLY);
    if (full < 0)
        GTEST_SKIP() << "no /dev/full";
    try {
        HistoryExport::Write(history, HistoryExport::Format::kCsv, std::nullopt, full);
        ADD_FAILURE() << "wrote to a full disk";
    } catch (const BenchError& error) {
        EXPECT_EQ(error.Code(), ExitCode::kFailure);
        EXPECT_STREQ(error.what(), "cannot write the history out: No space left on device");
    }
    close(full);
}

}  // namespace
