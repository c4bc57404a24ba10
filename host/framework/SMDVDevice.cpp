// Stand-in implementation of the framework's device operations: each call is
// told to the installed sink with its arguments, answers with the sink's
// result and hands the sink what a controller would act on.
#include "SMDVDevice.h"

#include "FrameworkSink.h"

SMDVDevice::SMDVDevice() = default;
SMDVDevice::~SMDVDevice() = default;

int SMDVDevice::DeviceIoControl(int, const void*, int, void*, int, int& returned) {
    returned = 0;
    return 0;
}

int SMDVDevice::InitV(SMDVDevice*, unsigned int, const Json::Value&) {
    return 1;
}

int SMDVDevice::InitSetting(const Json::Value&) {
    return 1;
}

bool SMDVDevice::IsSupportDevice(const std::string& device_type) const {
    return device_type == device_type_;
}

int SMDVDevice::SendSP(int data_id, const unsigned char* data, unsigned int len, bool urgent) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("SendSP", this);
        call.data_id = data_id;
        call.bytes.assign(data, data + len);
        call.flag = urgent;
        sink.Called(std::move(call));
    }
    sink.Published(*this, data_id, data, len);
    return 1;
}

int SMDVDevice::SendDelayData(int) {
    return 0;
}

int SMDVDevice::SendDoData(int, char) {
    return 0;
}

int SMDVDevice::ReadDi(int) {
    return 0;
}

float SMDVDevice::ReadAi(int) {
    return 0.0f;
}

float SMDVDevice::Get_SP_Value(unsigned int index, const std::string& key) {
    return Get_Value(index, key);
}

int SMDVDevice::SaveDeviceHistory(const unsigned char* data, unsigned int len) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("SaveDeviceHistory", this);
        call.bytes.assign(data, data + len);
        sink.Called(std::move(call));
    }
    sink.HistoryStored(*this, data, len);
    return 1;
}

bool SMDVDevice::CheckAOReport(const std::string& key, const float value) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("CheckAOReport", this);
        call.key = key;
        call.value = value;
        sink.Called(std::move(call));
    }
    return sink.CheckAOReportResult(key);
}

void SMDVDevice::CheckThreshold(const std::string& key, const std::string& detail,
                                const float& value, int source) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("CheckThreshold", this);
        call.key = key;
        call.detail = detail;
        call.value = value;
        call.source = source;
        sink.Called(std::move(call));
    }
}

bool SMDVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("DoBatchCheckThreshold", this);
        call.rule_count = rules.size();
        sink.Called(std::move(call));
    }
    return sink.BatchCheckResult();
}
