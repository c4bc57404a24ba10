#pragma once

class SMDVDevice;
class SMDSPDevice;

// Where the stand-in framework sends what a real controller would act on:
// published records, history records and bytes for the serial line. Tools
// install one to do real I/O; tests usually just read the call log.
class FrameworkSink {
public:
    virtual ~FrameworkSink() = default;
    virtual void Published(SMDVDevice& /*device*/, int /*data_id*/, const unsigned char* /*data*/,
                           unsigned int /*len*/) {}
    virtual void HistoryStored(SMDVDevice& /*device*/, const unsigned char* /*data*/,
                               unsigned int /*len*/) {}
    virtual void Transmit(SMDSPDevice& /*device*/, const unsigned char* /*data*/,
                          unsigned int /*len*/) {}
};
