#include "ModbusCrc.h"
#include "RequestReader.h"
#include "StationAddress.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

// A neighbour's answer and a wrong station's come from the next station:
// the highest one's is the lowest, never the broadcast or a reserved one.
static_assert(StationAddress::Next(1) == 2);
static_assert(StationAddress::Next(246) == 247);
static_assert(StationAddress::Next(247) == 1);

const std::vector<unsigned char> kMeterPoll = {0x01, 0x04, 0x00, 0x00, 0x00, 0x15, 0x31, 0xC5};

std::vector<ReadRequest> FeedBytewise(RequestReader& reader, const std::vector<unsigned char>& bytes) {
    std::vector<ReadRequest> found;
    for (unsigned char byte : bytes)
        for (const ReadRequest& request : reader.Feed(&byte, 1))
            found.push_back(request);
    return found;
}

TEST(ModbusFramingTest, ChecksumIsModbusCrcLowByteFirst) {
    EXPECT_EQ(ModbusChecksum(kMeterPoll.data(), 6), 0xC531);
    EXPECT_TRUE(ModbusChecksumMatches(kMeterPoll.data(), kMeterPoll.size()));
    std::vector<unsigned char> swapped = kMeterPoll;
    std::swap(swapped[6], swapped[7]);
    EXPECT_FALSE(ModbusChecksumMatches(swapped.data(), swapped.size()));
}

// Words whose two bytes differ, so a byte order mix-up on either side shows.
TEST(ModbusFramingTest, RequestFrameIsReadBackAsTheSameRequest) {
    ReadRequest poll;
    poll.station = 1;
    poll.quantity = 21;
    const ReadRequestFrame frame = poll.Frame();
    EXPECT_EQ(std::vector<unsigned char>(frame.begin(), frame.end()), kMeterPoll);

    ReadRequest odd;
    odd.station = 247;
    odd.start = 0x1234;
    odd.quantity = 0xABCD;
    const ReadRequestFrame odd_frame = odd.Frame();
    EXPECT_EQ(odd_frame[2], 0x12);
    EXPECT_EQ(odd_frame[5], 0xCD);
    const std::optional<ReadRequest> back = ReadRequest::FromFrame(odd_frame.data());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->station, 247);
    EXPECT_EQ(back->start, 0x1234);
    EXPECT_EQ(back->quantity, 0xABCD);
}

TEST(ModbusFramingTest, ReaderFindsRequestsAmongNoiseAndOtherFrames) {
    RequestReader reader;
    std::vector<unsigned char> line = {0xFF, 0x00, 0x13};       // noise
    std::vector<unsigned char> holding = kMeterPoll;           // function 3: not ours
    holding[1] = 0x03;
    const std::uint16_t crc = ModbusChecksum(holding.data(), 6);
    holding[6] = crc & 0xFF;
    holding[7] = crc >> 8;
    std::vector<unsigned char> corrupted = kMeterPoll;         // bad checksum
    corrupted[5] = 0x16;
    std::vector<unsigned char> station7 = {0x07, 0x04, 0x00, 0x02, 0x00, 0x03, 0, 0};
    const std::uint16_t crc7 = ModbusChecksum(station7.data(), 6);
    station7[6] = crc7 & 0xFF;
    station7[7] = crc7 >> 8;
    for (const std::vector<unsigned char>& part : {holding, corrupted, kMeterPoll, station7})
        line.insert(line.end(), part.begin(), part.end());

    const std::vector<ReadRequest> found = FeedBytewise(reader, line);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].station, 1);
    EXPECT_EQ(found[0].start, 0);
    EXPECT_EQ(found[0].quantity, 21);
    EXPECT_EQ(found[1].station, 7);
    EXPECT_EQ(found[1].start, 2);
    EXPECT_EQ(found[1].quantity, 3);
    EXPECT_EQ(reader.Pending(), 0u);

    // Half a request waits for the rest.
    EXPECT_TRUE(reader.Feed(kMeterPoll.data(), 5).empty());
    EXPECT_EQ(reader.Feed(kMeterPoll.data() + 5, 3).size(), 1u);
}

// Closing a frame writes the checksum low byte first, whether into the two
// bytes after the frame or appended to it: the exception answer of station
// 1 to Read Input Registers, illegal data address, is 01 84 02 C2 C1.
TEST(ModbusFramingTest, ClosingAFrameAppendsItsChecksumLowByteFirst) {
    std::vector<unsigned char> exception = {0x01, 0x84, 0x02};
    AppendModbusChecksum(exception);
    EXPECT_EQ(exception, (std::vector<unsigned char>{0x01, 0x84, 0x02, 0xC2, 0xC1}));

    std::vector<unsigned char> poll = kMeterPoll;
    poll[6] = poll[7] = 0;
    PutModbusChecksum(poll.data(), 6);
    EXPECT_EQ(poll, kMeterPoll);
}

}  // namespace
