// Stand-in implementation of the framework's device operations: each call is
// logged with its arguments, answers with the result the probe chose and is
// passed to the sink, if one is installed.
#include "SMDVDevice.h"

#include "FrameworkProbe.h"
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
    FrameworkProbe& probe = FrameworkProbe::Instance();
    if (probe.Recording()) {
        FrameworkCall call("SendSP", this);
        call.data_id = data_id;
        call.bytes.assign(data, data + len);
        call.flag = urgent;
        probe.Record(std::move(call));
    }
    probe.ThrowIfFailing("SendSP");
    if (probe.sink != nullptr)
        probe.sink->Published(*this, data_id, data, len);
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
    FrameworkProbe& probe = FrameworkProbe::Instance();
    if (probe.Recording()) {
        FrameworkCall call("SaveDeviceHistory", this);
        call.bytes.assign(data, data + len);
        probe.Record(std::move(call));
    }
    probe.ThrowIfFailing("SaveDeviceHistory");
    if (probe.sink != nullptr)
        probe.sink->HistoryStored(*this, data, len);
    return 1;
}

bool SMDVDevice::CheckAOReport(const std::string& key, const float value) {
    FrameworkProbe& probe = FrameworkProbe::Instance();
    if (probe.Recording()) {
        FrameworkCall call("CheckAOReport", this);
        call.key = key;
        call.value = value;
        probe.Record(std::move(call));
    }
    probe.ThrowIfFailing("CheckAOReport");
    auto chosen = probe.check_ao_report_by_key.find(key);
    return chosen != probe.check_ao_report_by_key.end() ? chosen->second
                                                        : probe.check_ao_report_result;
}

void SMDVDevice::CheckThreshold(const std::string& key, const std::string& detail,
                                const float& value, int source) {
    FrameworkProbe& probe = FrameworkProbe::Instance();
    if (probe.Recording()) {
        FrameworkCall call("CheckThreshold", this);
        call.key = key;
        call.detail = detail;
        call.value = value;
        call.source = source;
        probe.Record(std::move(call));
    }
    probe.ThrowIfFailing("CheckThreshold");
}

bool SMDVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
    FrameworkProbe& probe = FrameworkProbe::Instance();
    if (probe.Recording()) {
        FrameworkCall call("DoBatchCheckThreshold", this);
        call.rule_count = rules.size();
        probe.Record(std::move(call));
    }
    probe.ThrowIfFailing("DoBatchCheckThreshold");
    return probe.batch_check_result;
}
