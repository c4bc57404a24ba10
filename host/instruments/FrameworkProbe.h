#pragma once

#include "FrameworkCall.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class FrameworkSink;

// The stand-in framework's control panel. Every framework operation a device
// calls is appended to the call log (while recording), answers with the
// result chosen here, and throws std::runtime_error("<name> failed") when its
// name is in `failing`. One process-wide instance, like the host it stands
// in for.
class FrameworkProbe {
public:
    static FrameworkProbe& Instance();

    // Back to a fresh framework: empty log, default results, nothing failing,
    // recording on, no sink.
    void Clear();

    // Names of the logged calls, in order.
    std::vector<std::string> Names() const;
    // Logged calls with this name, in order.
    std::vector<FrameworkCall> CallsNamed(const std::string& name) const;

    // Called by the stand-in operations themselves.
    bool Recording() const { return recording; }
    void Record(FrameworkCall call);
    void ThrowIfFailing(const char* name) const;

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
    FrameworkProbe() = default;
};
