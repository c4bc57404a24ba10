#include "MeterAnswer.h"
#include "ProbeFixture.h"
#include "QVT7702.h"

#include <climits>
#include <cstring>
#include <json/reader.h>
#include <sstream>

namespace {

using Bytes = std::vector<unsigned char>;

// Exposes the record of a real meter driver to the test.
class TestMeter : public QVT7702 {
public:
    float Value(int i) const { return record_.values[i]; }
    std::uint32_t RecordDataId() const { return record_.data_id; }
    using QVT7702::record_;
};

class MeterProcessTest : public ProbeFixture {
protected:
    // Delivers `bytes` in chunks of the given sizes; returns each call's result.
    std::vector<int> Deliver(const Bytes& bytes, const std::vector<std::size_t>& chunks) {
        std::vector<int> results;
        Bytes copy = bytes;
        std::size_t at = 0;
        testing::internal::CaptureStdout();
        for (std::size_t size : chunks) {
            results.push_back(meter.process(copy.data() + at, static_cast<unsigned int>(size)));
            at += size;
        }
        output = testing::internal::GetCapturedStdout();
        return results;
    }

    std::vector<float> Values() const {
        std::vector<float> values;
        for (int i = 0; i < 12; ++i)
            values.push_back(meter.Value(i));
        return values;
    }

    static std::vector<float> AsFloats(const std::array<std::uint16_t, 12>& words) {
        return std::vector<float>(words.begin(), words.end());
    }

    std::size_t Rounds() const { return Probe().CallsNamed("SendSP").size(); }

    TestMeter meter;
    std::string output;
};

TEST_F(MeterProcessTest, ConstructionSetsTheMetersDefaults) {
    EXPECT_EQ(meter.DeviceType(), "qvt7702");
    EXPECT_EQ(meter.baud_rate_, 9600);
    EXPECT_EQ(meter.station_address_, 1);
    EXPECT_EQ(meter.serial_param_, 3);
    EXPECT_EQ(meter.device_param_, 600);
    EXPECT_EQ(meter.rx_length_, 0);
    EXPECT_EQ(Values(), std::vector<float>(12, 0.0f));
}

TEST_F(MeterProcessTest, RefreshSendsReadInputRegistersToStationOne) {
    EXPECT_EQ(meter.RefreshStatus(), 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"RefreshStatus", "modbus_read_input_registers",
                                                 "SendData"}));
    const FrameworkCall& request = Probe().calls[1];
    EXPECT_EQ(request.station, 1);
    EXPECT_EQ(request.start, 0);
    EXPECT_EQ(request.count, 21);
    // Modbus RTU: station 1, function 4, start 0, quantity 21, CRC low byte first.
    EXPECT_EQ(Probe().calls[2].bytes, (Bytes{0x01, 0x04, 0x00, 0x00, 0x00, 0x15, 0x31, 0xC5}));
    EXPECT_EQ(meter.request_pending_, 1);
}

// The framework takes the station from the device's settings; anything that
// is no station address (0 is broadcast, 248.. reserved, text, a fraction)
// leaves the driver's own station 1.
TEST_F(MeterProcessTest, StationAddressComesFromTheSettingsWhenItIsOne) {
    const std::vector<std::pair<std::string, int>> cases = {
        {R"({"stationAddress": 7})", 7},     {R"({"stationAddress": 247})", 247},
        {R"({"stationAddress": 1})", 1},     {R"({})", 1},
        {R"({"stationAddress": 0})", 1},     {R"({"stationAddress": 248})", 1},
        {R"({"stationAddress": -3})", 1},    {R"({"stationAddress": "7"})", 1},
        {R"({"stationAddress": 7.5})", 1},
    };
    for (const auto& [text, station] : cases) {
        TestMeter fresh;
        Json::Value tree;
        std::istringstream(text) >> tree;
        fresh.InitSetting(tree);  // mode 1 by default: no trace lines
        Probe().calls.clear();
        fresh.RefreshStatus();
        ASSERT_EQ(Probe().calls.size(), 3u) << text;
        EXPECT_EQ(Probe().calls[2].bytes.at(0), station) << text;
    }
}

TEST_F(MeterProcessTest, RefreshReportsSuccessWhateverTheFrameworkAnswers) {
    Probe().refresh_status_result = 0;
    Probe().read_request_result = -1;
    EXPECT_EQ(meter.RefreshStatus(), 1);
}

TEST_F(MeterProcessTest, WholeAnswerInOneChunkIsDecodedAndCompletesTheRound) {
    const auto words = TypicalWords();
    EXPECT_EQ(Deliver(MeterAnswer(words), {58}), std::vector<int>{0});
    EXPECT_EQ(Values(), AsFloats(words));
    EXPECT_EQ(output, "rvSize is 0\n");
    EXPECT_EQ(Rounds(), 1u);
    EXPECT_EQ(meter.rx_length_, 0) << "emptied for the next poll";
    EXPECT_TRUE(meter.data_ready_);

    const Bytes published = Probe().CallsNamed("SendSP")[0].bytes;
    ASSERT_EQ(published.size(), 59u);
    float first;
    std::memcpy(&first, published.data() + 4, 4);
    EXPECT_EQ(first, 1.0f);
}

TEST_F(MeterProcessTest, AnswerSplitAcrossChunksIsDecodedOnlyWhenComplete) {
    const auto words = TypicalWords();
    for (const std::vector<std::size_t>& split :
         {std::vector<std::size_t>{1, 57}, {30, 28}, {20, 0, 19, 19}}) {
        Probe().Clear();
        std::vector<int> expected(split.size(), 1);
        expected.back() = 0;
        meter.record_.values[4] = 0.0f;
        EXPECT_EQ(Deliver(MeterAnswer(words), split), expected);
        EXPECT_EQ(Rounds(), 1u);
        EXPECT_EQ(meter.Value(4), 23012.0f);
    }
}

TEST_F(MeterProcessTest, PartialAnswerChangesNothing) {
    EXPECT_EQ(Deliver(MeterAnswer(TypicalWords()), {57}), std::vector<int>{1});
    EXPECT_EQ(meter.rx_length_, 57);
    EXPECT_EQ(Values(), std::vector<float>(12, 0.0f));
    EXPECT_TRUE(Probe().calls.empty());
}

TEST_F(MeterProcessTest, OverlongAnswerIsNeverDecoded) {
    Bytes answer = MeterAnswer(TypicalWords());
    answer.resize(60, 0);
    EXPECT_EQ(Deliver(answer, {50, 10}), (std::vector<int>{1, 1}));
    EXPECT_EQ(Rounds(), 0u);
    EXPECT_EQ(meter.rx_length_, 60);
}

TEST_F(MeterProcessTest, WordsAreUnsignedMostSignificantByteFirst) {
    std::array<std::uint16_t, 12> words{};
    words[0] = 0xFFFF;
    words[1] = 0x0100;
    words[11] = 0x0001;
    Deliver(MeterAnswer(words), {58});
    EXPECT_EQ(meter.Value(0), 65535.0f);
    EXPECT_EQ(meter.Value(1), 256.0f);
    EXPECT_EQ(meter.Value(11), 1.0f);
}

TEST_F(MeterProcessTest, HeaderAndTrailerBytesDoNotAffectTheRecord) {
    const auto words = TypicalWords();
    Deliver(MeterAnswer(words, 0x00), {58});
    const Bytes plain = Probe().CallsNamed("SendSP")[0].bytes;

    Probe().Clear();
    Deliver(MeterAnswer(words, 0xFF), {58});
    const Bytes noisy = Probe().CallsNamed("SendSP")[0].bytes;
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 52), Bytes(noisy.begin(), noisy.begin() + 52));
    EXPECT_EQ(meter.RecordDataId(), 0u) << "decoding leaves the data id alone";
}

TEST_F(MeterProcessTest, BufferTakesExactly4096BytesAndNoMore) {
    Bytes fill(4000, 0x11);
    EXPECT_EQ(Deliver(fill, {4000}), std::vector<int>{1});
    Bytes more(96, 0x22);
    EXPECT_EQ(Deliver(more, {96}), std::vector<int>{1});
    EXPECT_EQ(meter.rx_length_, 4096);

    Bytes one{0x33};
    EXPECT_EQ(Deliver(one, {1}), std::vector<int>{0});
    EXPECT_EQ(meter.rx_length_, 0);
    EXPECT_EQ(Names(), std::vector<std::string>{"Reset"});
    EXPECT_EQ(meter.rx_buffer_[0], 0x11) << "the overflowing byte is not stored";
}

TEST_F(MeterProcessTest, OversizedChunkIsDroppedWithoutCopying) {
    Bytes huge(4097, 0x44);
    EXPECT_EQ(Deliver(huge, {4097}), std::vector<int>{0});
    EXPECT_EQ(meter.rx_length_, 0);
    EXPECT_EQ(meter.rx_buffer_[0], 0x00);
}

TEST_F(MeterProcessTest, LengthsThatWouldWrapAroundAreOverflow) {
    unsigned char byte = 0x55;
    meter.rx_length_ = 10;
    EXPECT_EQ(meter.process(&byte, UINT_MAX), 0);
    EXPECT_EQ(meter.rx_length_, 0);
    meter.rx_length_ = 10;
    EXPECT_EQ(meter.process(&byte, UINT_MAX - 5), 0);

    // A fill level outside the buffer is treated as overflow, not trusted.
    meter.rx_length_ = -1;
    EXPECT_EQ(meter.process(&byte, 1), 0);
    EXPECT_EQ(meter.rx_length_, 0);
    meter.rx_length_ = 5000;
    EXPECT_EQ(meter.process(&byte, 0), 0);
    EXPECT_EQ(meter.rx_length_, 0);
}

TEST_F(MeterProcessTest, EmptyChunkWantsMoreAndCopiesNothing) {
    EXPECT_EQ(meter.process(nullptr, 0), 1);
    EXPECT_EQ(meter.rx_length_, 0);
    EXPECT_TRUE(Probe().calls.empty());
}

TEST_F(MeterProcessTest, NextPollDropsTheRestOfAShortAnswer) {
    const auto words = TypicalWords();
    Bytes answer = MeterAnswer(words);
    EXPECT_EQ(Deliver(answer, {57}), std::vector<int>{1});

    meter.RefreshStatus();
    EXPECT_EQ(meter.rx_length_, 0);
    EXPECT_EQ(Deliver(answer, {58}), std::vector<int>{0});
    EXPECT_EQ(meter.Value(4), 23012.0f);
    EXPECT_EQ(Rounds(), 1u);
}

TEST_F(MeterProcessTest, ModbusErrorHookWritesItsLineAndReportsTheExchangeOver) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(meter.on_error(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SPModbus get error\n");
}

TEST_F(MeterProcessTest, PayloadHandlerIsANoOp) {
    for (SPModbus::tab_type table : {SPModbus::TAB_COILS, SPModbus::TAB_DISCRETE_INPUTS,
                                     SPModbus::TAB_HOLDING_REGISTERS, SPModbus::TAB_INPUT_REGISTERS})
        for (unsigned int count : {0u, 21u, UINT_MAX})
            EXPECT_EQ(meter.process_payload(table, count), 1);
    EXPECT_TRUE(Probe().calls.empty());
}

}  // namespace
