#include "FrameworkProbe.h"

#include <stdexcept>
#include <utility>

FrameworkProbe& FrameworkProbe::Instance() {
    static FrameworkProbe probe;
    return probe;
}

FrameworkProbe::FrameworkProbe() {
    FrameworkSink::Install(this);
}

void FrameworkProbe::Clear() {
    recording = true;
    calls.clear();
    failing.clear();
    check_ao_report_result = false;
    check_ao_report_by_key.clear();
    batch_check_result = false;
    init_setting_result = 1;
    refresh_status_result = 1;
    read_request_result = 1;
    sink = nullptr;
    FrameworkSink::Install(this);
}

std::vector<std::string> FrameworkProbe::Names() const {
    std::vector<std::string> names;
    for (const FrameworkCall& call : calls)
        names.push_back(call.name);
    return names;
}

std::vector<FrameworkCall> FrameworkProbe::CallsNamed(const std::string& name) const {
    std::vector<FrameworkCall> found;
    for (const FrameworkCall& call : calls)
        if (call.name == name)
            found.push_back(call);
    return found;
}

void FrameworkProbe::Called(FrameworkCall call) {
    const std::string name = call.name;
    if (recording)
        calls.push_back(std::move(call));
    if (!failing.empty() && failing.count(name) != 0)
        throw std::runtime_error(name + " failed");
}

bool FrameworkProbe::CheckAOReportResult(const std::string& key) {
    const auto chosen = check_ao_report_by_key.find(key);
    return chosen != check_ao_report_by_key.end() ? chosen->second : check_ao_report_result;
}

void FrameworkProbe::Published(SMDVDevice& device, int data_id, const unsigned char* data,
                               unsigned int len) {
    if (sink != nullptr)
        sink->Published(device, data_id, data, len);
}

void FrameworkProbe::HistoryStored(SMDVDevice& device, const unsigned char* data,
                                   unsigned int len) {
    if (sink != nullptr)
        sink->HistoryStored(device, data, len);
}

void FrameworkProbe::Transmit(SMDSPDevice& device, const unsigned char* data, unsigned int len) {
    if (sink != nullptr)
        sink->Transmit(device, data, len);
}
