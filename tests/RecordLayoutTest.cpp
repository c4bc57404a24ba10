#include "QVT7702_Data_t.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> BytesOf(const QVT7702_Data_t& record) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    return std::vector<unsigned char>(bytes, bytes + sizeof record);
}

TEST(RecordLayout, DataIdAndVoltageSitAtTheirOffsetsLittleEndian) {
    QVT7702_Data_t record;
    std::memset(&record, 0, sizeof record);
    record.data_id = 7;
    record.values[4] = 23012.0f;

    const std::vector<unsigned char> bytes = BytesOf(record);
    ASSERT_EQ(bytes.size(), 59u);
    for (std::size_t i = 0; i < 52; ++i) {
        unsigned char expected = 0;
        if (i == 0) expected = 0x07;
        if (i == 20) expected = 0x00;
        if (i == 21) expected = 0xC8;
        if (i == 22) expected = 0xB3;
        if (i == 23) expected = 0x46;
        EXPECT_EQ(bytes[i], expected) << "byte " << i;
    }
}

TEST(RecordLayout, LargestRegisterWordIsStoredAs65535) {
    QVT7702_Data_t record;
    std::memset(&record, 0, sizeof record);
    record.values[0] = 65535.0f;
    const std::vector<unsigned char> bytes = BytesOf(record);
    EXPECT_EQ(bytes[4], 0x00);
    EXPECT_EQ(bytes[5], 0xFF);
    EXPECT_EQ(bytes[6], 0x7F);
    EXPECT_EQ(bytes[7], 0x47);
}

TEST(RecordLayout, EveryValueElementAndTheTimeStampHaveTheirOwnBytes) {
    QVT7702_Data_t record;
    std::memset(&record, 0, sizeof record);
    for (int i = 0; i < 12; ++i)
        record.values[i] = 1.0f;  // 00 00 80 3F
    record.time_stamp = TTime{0x07EA, 12, 8, 13, 45, 59};

    const std::vector<unsigned char> bytes = BytesOf(record);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(bytes[4 + 4 * i + 3], 0x3F) << "values[" << i << "]";
    const std::vector<unsigned char> stamp(bytes.begin() + 52, bytes.end());
    EXPECT_EQ(stamp, (std::vector<unsigned char>{0xEA, 0x07, 12, 8, 13, 45, 59}));
}

TEST(RecordLayout, TimeStampPacksLocalTimeFieldByField) {
    using namespace boost::posix_time;
    const TTime packed = get_ttime(ptime(boost::gregorian::date(2026, 12, 8), hours(23) + minutes(5) + seconds(9)));
    unsigned char bytes[7];
    std::memcpy(bytes, &packed, sizeof bytes);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 7),
              (std::vector<unsigned char>{0xEA, 0x07, 12, 8, 23, 5, 9}));

    const TTime none = get_ttime(ptime());
    std::memcpy(bytes, &none, sizeof bytes);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 7), std::vector<unsigned char>(7, 0));
}

}  // namespace
