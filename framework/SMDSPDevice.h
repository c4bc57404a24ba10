#pragma once

#include "EnumParity.h"
#include "SMDVDevice.h"

// A device on a serial line. The framework owns the port: it sends what the
// device asks for and delivers received bytes to process() chunk by chunk.
class SMDSPDevice : public SMDVDevice {
public:
    static constexpr int kRxBufferSize = 4096;

    SMDSPDevice();
    ~SMDSPDevice() override;

    void Reset() override;
    int Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
             const Json::Value& config) override;

    // Called at every poll; a device issues its request here.
    virtual int RefreshStatus();
    // Received bytes: 1 while more are wanted, 0 when the exchange is over.
    virtual int process(unsigned char* data, unsigned int len) = 0;
    virtual bool IsProcessing();
    virtual bool IsStalled();
    virtual int SendData(const unsigned char* data, unsigned int len);
    virtual int SendParityData(const unsigned char* data, unsigned int len, EnumParity parity);
    virtual int OpenPort();
    virtual int ClosePort();

    unsigned char rx_buffer_[kRxBufferSize] = {};
    int rx_length_ = 0;
    int request_pending_ = 0;
    int baud_rate_ = 0;
    int serial_param_ = 0;
    int device_param_ = 0;
};
