#pragma once

#include "FrameworkCall.h"

#include <string>

class SMDVDevice;
class SMDSPDevice;

// Where the stand-in framework sends what a device asks of it: every call
// with its arguments (when the sink wants them), the answers of the calls
// whose result a device uses, and what a real controller would act on:
// published records, history records and bytes for the serial line. One
// sink is installed for the process, like the host it stands in for;
// without one, calls answer as a quiet controller would and go nowhere.
class FrameworkSink {
public:
    virtual ~FrameworkSink() = default;

    // Installs `sink` (nullptr: none) and returns the one it replaces.
    static FrameworkSink* Install(FrameworkSink* sink);
    static FrameworkSink& Current();

    // Whether Called() should be told of each call: describing one costs
    // an allocation.
    virtual bool WantsCalls() const { return false; }
    // Before the operation acts; may throw, as a failing framework would.
    virtual void Called(FrameworkCall /*call*/) {}

    virtual bool CheckAOReportResult(const std::string& /*key*/) { return false; }
    virtual bool BatchCheckResult() { return false; }
    virtual int InitSettingResult() { return 1; }
    virtual int RefreshStatusResult() { return 1; }
    virtual int ReadRequestResult() { return 1; }

    virtual void Published(SMDVDevice& /*device*/, int /*data_id*/, const unsigned char* /*data*/,
                           unsigned int /*len*/) {}
    virtual void HistoryStored(SMDVDevice& /*device*/, const unsigned char* /*data*/,
                               unsigned int /*len*/) {}
    virtual void Transmit(SMDSPDevice& /*device*/, const unsigned char* /*data*/,
                          unsigned int /*len*/) {}
};
