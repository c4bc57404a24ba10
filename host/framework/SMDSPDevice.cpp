// Stand-in implementation of the framework's serial device. The port itself
// belongs to whoever installs a FrameworkSink (the bench host); here a
// transmission is logged and handed to that sink.
#include "SMDSPDevice.h"

#include "FrameworkSink.h"

SMDSPDevice::SMDSPDevice() = default;
SMDSPDevice::~SMDSPDevice() = default;

void SMDSPDevice::Reset() {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls())
        sink.Called(FrameworkCall("Reset", this));
    rx_length_ = 0;
}

int SMDSPDevice::Init(std::weak_ptr<SMDController>, unsigned int data_id, const Json::Value&) {
    data_id_ = data_id;
    return 1;
}

// A new poll starts a new exchange: bytes left from an unfinished one (an
// answer cut short, or one with bytes to spare) would otherwise shift every
// later answer off its expected length, so they are dropped first.
int SMDSPDevice::RefreshStatus() {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls())
        sink.Called(FrameworkCall("RefreshStatus", this));
    if (rx_length_ != 0)
        Reset();
    return sink.RefreshStatusResult();
}

bool SMDSPDevice::IsProcessing() {
    return request_pending_ != 0;
}

bool SMDSPDevice::IsStalled() {
    return false;
}

int SMDSPDevice::SendData(const unsigned char* data, unsigned int len) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("SendData", this);
        call.bytes.assign(data, data + len);
        sink.Called(std::move(call));
    }
    sink.Transmit(*this, data, len);
    return static_cast<int>(len);
}

int SMDSPDevice::SendParityData(const unsigned char* data, unsigned int len, EnumParity) {
    return SendData(data, len);
}

int SMDSPDevice::OpenPort() {
    return 1;
}

int SMDSPDevice::ClosePort() {
    return 1;
}
