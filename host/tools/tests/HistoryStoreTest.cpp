#include "BenchError.h"
#include "HistoryStore.h"
#include "ScratchDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::vector<unsigned char> Record(unsigned char fill) {
    return std::vector<unsigned char>(59, fill);
}

TEST(HistoryStoreTest, KeepsRecordsInOrderAndFindsEachDevicesNewest) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("history.sqlite");
    {
        HistoryStore store(path, HistoryStore::Access::kReadWrite);
        EXPECT_FALSE(store.Newest(7).has_value());
        store.Append(7, "2024-05-01 10:00:00.000", Record(1).data(), 59);
        store.Append(8, "2024-05-01 10:00:01.000", Record(2).data(), 59);
        store.Append(7, "2024-05-01 10:00:02.000", Record(3).data(), 59);
        store.Append(8, "2024-05-01 10:00:03.000", Record(4).data(), 59);
    }
    HistoryStore reopened(path, HistoryStore::Access::kReadWrite);
    const std::optional<HistoryRow> newest = reopened.Newest(7);
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->record, Record(3));
    EXPECT_EQ(newest->stored_at, "2024-05-01 10:00:02.000");
    EXPECT_EQ(reopened.Newest(8)->record, Record(4));
    EXPECT_FALSE(reopened.Newest(9).has_value());

    const std::vector<HistoryRow> all = reopened.All();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[1].data_id, 8u);
    EXPECT_EQ(all[1].record, Record(2));
    EXPECT_LT(all[0].row_id, all[3].row_id);
}

TEST(HistoryStoreTest, UnusableFilesAreRefusedWithoutBeingChanged) {
    ScratchDirectory scratch;
    const std::string text = scratch.File("notes.txt");
    std::ofstream(text) << "plain text\n";
    const auto size = std::filesystem::file_size(text);

    for (auto access : {HistoryStore::Access::kReadWrite, HistoryStore::Access::kReadOnly}) {
        try {
            HistoryStore store(text, access);
            ADD_FAILURE() << "a text file was taken for history";
        } catch (const BenchError& failure) {
            EXPECT_EQ(failure.Code(), ExitCode::kHistory);
            EXPECT_NE(std::string(failure.what()).find("file is not a database"), std::string::npos);
        }
    }
    EXPECT_EQ(std::filesystem::file_size(text), size);

    EXPECT_THROW(HistoryStore(scratch.File("missing.sqlite"), HistoryStore::Access::kReadOnly),
                 BenchError);
    EXPECT_FALSE(std::filesystem::exists(scratch.File("missing.sqlite")));
}

}  // namespace
