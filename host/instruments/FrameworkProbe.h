#pragma once

#include "FrameworkCall.h"
#include "FrameworkSink.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// The stand-in framework's control panel for tests: a FrameworkSink that
// appends every framework operation a device calls to the call log (while
// recording), answers with the result chosen here, and throws
// std::runtime_error("<name> failed") when its name is in `failing`. What a
// controller would act on goes on to `sink`, when a test sets one. One
// process-wide instance, installed as the framework's sink when first used.
class FrameworkProbe : public FrameworkSink {
public:
    static FrameworkProbe& Instance();

    // Back to a fresh framework: empty log, default results, nothing failing,
    // recording on, no sink; installed again.
    void Clear();

    // Names of the logged calls, in order.
    std::vector<std::string> Names() const;
    // Logged calls with this name, in order.
    std::vector<FrameworkCall> CallsNamed(const std::string& name) const;

    bool WantsCalls() const override { return recording || !failing.empty(); }
    void Called(FrameworkCall call) override;
    bool CheckAOReportResult(const std::string& key) override;
    bool BatchCheckResult() override { return batch_check_result; }
    int InitSettingResult() override { return init_setting_result; }
    int RefreshStatusResult() override { return refresh_status_result; }
    int ReadRequestResult() override { return read_request_result; }
    void Published(SMDVDevice& device, int data_id, const unsigned char* data,
                   unsigned int len) override;
    void HistoryStored(SMDVDevice& device, const unsigned char* data, unsigned int len) override;
    void Transmit(SMDSPDevice& device, const unsigned char* data, unsigned int len) override;

    bool recording = true;
    std::vector<FrameworkCall> calls;
    std::set<std::string> failing;

    // Results of the operations whose answers a device uses.
    bool check_ao_report_result = false;
    std::map<std::string, bool> check_ao_report_by_key;  // overrides the above per key
    bool batch_check_result = false;
    int init_setting_result = 1;
    int refresh_status_result = 1;
    int read_request_result = 1;

    FrameworkSink* sink = nullptr;

private:
    FrameworkProbe();
};
