#include "ProbeFixture.h"
#include "RecordTestDevice.h"

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

using boost::posix_time::ptime;
using Bytes = std::vector<unsigned char>;

class UniDataDeviceTest : public ProbeFixture {
protected:
    // A stored record: data id 7, values[i] = i + 1, an old time stamp.
    static Bytes CachedRecord() {
        QVT7702_Data_t record;
        std::memset(&record, 0, sizeof record);
        record.data_id = 7;
        for (int i = 0; i < 12; ++i)
            record.values[i] = static_cast<float>(i + 1);
        record.time_stamp = TTime{2001, 1, 2, 3, 4, 5};
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
        return Bytes(bytes, bytes + sizeof record);
    }

    std::string RoundOutput() {
        testing::internal::CaptureStdout();
        device.RoundDone();
        return testing::internal::GetCapturedStdout();
    }

    RecordTestDevice device;
};

TEST_F(UniDataDeviceTest, StartsWithAZeroRecordInModeOne) {
    EXPECT_EQ(Bytes(device.Bytes(), device.Bytes() + 59), Bytes(59, 0));
    EXPECT_EQ(device.b_mode_, 1);
    EXPECT_TRUE(device.alarm_ids_.empty());
    EXPECT_TRUE(device.signal_names_.empty());
    EXPECT_FALSE(device.data_ready_);
}

TEST_F(UniDataDeviceTest, RoundPublishesResetsChecksThenStoresHistory) {
    device.ao_signals_ = {"Ua", "Ib"};
    device.ao_values_ = {{"Ua", 230.5f}, {"Ib", 4.0f}};
    device.rule_values_.resize(3);
    device.rx_length_ = 17;

    EXPECT_EQ(RoundOutput(), "rvSize is 3\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"SendSP", "Reset", "CheckAOReport", "CheckThreshold",
                                                 "CheckAOReport", "CheckThreshold",
                                                 "DoBatchCheckThreshold", "SaveDeviceHistory"}));
    const FrameworkCall& sent = Probe().calls[0];
    EXPECT_EQ(sent.data_id, 5178);
    EXPECT_EQ(sent.bytes.size(), 59u);
    EXPECT_FALSE(sent.flag);
    EXPECT_EQ(Probe().calls[2].key, "Ua");
    EXPECT_FLOAT_EQ(Probe().calls[2].value, 230.5f);
    const FrameworkCall& threshold = Probe().calls[3];
    EXPECT_EQ(threshold.key, "Ua");
    EXPECT_EQ(threshold.detail, "");
    EXPECT_FLOAT_EQ(threshold.value, 230.5f);
    EXPECT_EQ(threshold.source, 1);
    EXPECT_EQ(Probe().calls[4].key, "Ib");
    EXPECT_EQ(Probe().calls[6].rule_count, 3u);
    EXPECT_EQ(Probe().calls[7].bytes, sent.bytes);

    EXPECT_EQ(device.threshold_hook_calls, 1);
    EXPECT_EQ(device.rx_length_, 0);
    EXPECT_TRUE(device.data_ready_);
    EXPECT_EQ(device.comm_state_, 1);
    EXPECT_TRUE(device.rule_values_.empty());
}

TEST_F(UniDataDeviceTest, RoundStampsTheRecordWithTheLocalTime) {
    const ptime before = Now();
    RoundOutput();
    const ptime after = Now();

    EXPECT_GE(device.last_update_, before);
    EXPECT_LE(device.last_update_, after);
    const TTime expected = get_ttime(device.last_update_);
    const Bytes published = Probe().calls[0].bytes;
    EXPECT_EQ(0, std::memcmp(published.data() + 52, &expected, 7));
}

TEST_F(UniDataDeviceTest, EmptySignalListStillPublishesChecksBatchAndStores) {
    device.ao_values_ = {{"Ua", 1.0f}};
    EXPECT_EQ(RoundOutput(), "rvSize is 0\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"SendSP", "Reset", "DoBatchCheckThreshold",
                                                 "SaveDeviceHistory"}));
}

TEST_F(UniDataDeviceTest, SignalWithoutAValueIsSkippedAndAddsNoEntry) {
    device.ao_signals_ = {"Uc", "Ua"};
    device.ao_values_ = {{"Ua", 2.0f}};
    RoundOutput();
    ASSERT_EQ(Probe().CallsNamed("CheckAOReport").size(), 1u);
    EXPECT_EQ(Probe().CallsNamed("CheckAOReport")[0].key, "Ua");
    EXPECT_EQ(Probe().CallsNamed("CheckThreshold").size(), 1u);
    EXPECT_EQ(device.ao_values_.count("Uc"), 0u);
}

TEST_F(UniDataDeviceTest, ReportNeededIsTheOrOfThisRoundsChecks) {
    device.ao_signals_ = {"Ua", "Ub", "Uc"};
    device.ao_values_ = {{"Ua", 1.0f}, {"Ub", 2.0f}, {"Uc", 3.0f}};

    Probe().check_ao_report_by_key = {{"Ua", true}};
    RoundOutput();
    EXPECT_TRUE(device.report_needed_);
    // A later false answer does not clear the flag, and every key is still checked.
    EXPECT_EQ(Probe().CallsNamed("CheckAOReport").size(), 3u);

    Probe().check_ao_report_by_key.clear();
    RoundOutput();
    EXPECT_FALSE(device.report_needed_) << "the flag starts afresh each round";

    Probe().batch_check_result = true;
    RoundOutput();
    EXPECT_TRUE(device.report_needed_);
}

TEST_F(UniDataDeviceTest, FailingFrameworkCallStopsTheRestOfTheRound) {
    device.ao_signals_ = {"Ua"};
    device.ao_values_ = {{"Ua", 1.0f}};
    device.rule_values_.resize(1);

    Probe().failing = {"CheckAOReport"};
    testing::internal::CaptureStdout();
    EXPECT_THROW(device.RoundDone(), std::runtime_error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(Names(), (std::vector<std::string>{"SendSP", "Reset", "CheckAOReport"}));
    EXPECT_EQ(device.rule_values_.size(), 1u) << "rules are kept for the next round";

    // A failing batch check comes after the trace line and before history:
    // the round's record is published but not stored, and the rules stay.
    Probe().Clear();
    Probe().failing = {"DoBatchCheckThreshold"};
    testing::internal::CaptureStdout();
    EXPECT_THROW(device.RoundDone(), std::runtime_error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 1\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"SendSP", "Reset", "CheckAOReport",
                                                 "CheckThreshold", "DoBatchCheckThreshold"}));
    EXPECT_EQ(device.rule_values_.size(), 1u);

    Probe().Clear();
    Probe().failing = {"SendSP"};
    EXPECT_THROW(device.RoundDone(), std::runtime_error);
    EXPECT_EQ(Names(), std::vector<std::string>{"SendSP"});
    EXPECT_TRUE(device.data_ready_) << "set before publishing";
}

TEST_F(UniDataDeviceTest, CachedRecordIsAcceptedRestampedPublishedAndStored) {
    const Bytes cached = CachedRecord();
    const ptime before = Now();
    testing::internal::CaptureStdout();
    EXPECT_EQ(device.LoadFromCache(cached.data(), 59), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 0\n");

    EXPECT_TRUE(device.data_ready_);
    EXPECT_GE(device.last_update_, before);
    const QVT7702_Data_t record = device.Record();
    EXPECT_EQ(std::uint32_t{record.data_id}, 7u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(float{record.values[i]}, static_cast<float>(i + 1));
    const TTime fresh = get_ttime(device.last_update_);
    EXPECT_EQ(0, std::memcmp(device.Bytes() + 52, &fresh, 7)) << "re-stamped, not the cached time";

    const Bytes published = Probe().CallsNamed("SendSP").at(0).bytes;
    EXPECT_EQ(Bytes(published.begin(), published.begin() + 52), Bytes(cached.begin(), cached.begin() + 52));
    EXPECT_EQ(Probe().CallsNamed("SaveDeviceHistory").at(0).bytes, published);
}

TEST_F(UniDataDeviceTest, CachedRecordAsAByteStringTakesTheSamePath) {
    const Bytes cached = CachedRecord();
    VDeviceInterface& host_view = device;
    testing::internal::CaptureStdout();
    EXPECT_EQ(host_view.LoadFromCache(std::string(cached.begin(), cached.end())), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::uint32_t{device.Record().data_id}, 7u);
    EXPECT_EQ(host_view.LoadFromCache(std::string(60, '\0')), 0);
}

TEST_F(UniDataDeviceTest, CacheBlobOfAnyOtherSizeOrWithoutBytesIsRefused) {
    device.data_id_ = 12;
    device.record_.data_id = 12;
    const Bytes cached = CachedRecord();
    const Bytes long_blob(60, 0xAB);
    const Bytes before(device.Bytes(), device.Bytes() + 59);

    EXPECT_EQ(device.LoadFromCache(cached.data(), 58), 0);
    EXPECT_EQ(device.LoadFromCache(long_blob.data(), 60), 0);
    EXPECT_EQ(device.LoadFromCache(cached.data(), 0), 0);
    EXPECT_EQ(device.LoadFromCache(cached.data(), -59), 0);
    EXPECT_EQ(device.LoadFromCache(nullptr, 59), 0);

    EXPECT_TRUE(Probe().calls.empty());
    EXPECT_FALSE(device.data_ready_);
    EXPECT_EQ(Bytes(device.Bytes(), device.Bytes() + 59), before);
}

TEST_F(UniDataDeviceTest, DestroyingThroughTheHostsPointerRunsTheWholeDestructor) {
    SMDSPDevice* owned = new RecordTestDevice();
    static_cast<RecordTestDevice*>(owned)->alarm_ids_["Ua"] = std::string(100, 'x');
    static_cast<RecordTestDevice*>(owned)->signal_names_["Ua"] = std::string(100, 'y');
    delete owned;  // leak checkers and sanitizers see the maps freed
}

}  // namespace
