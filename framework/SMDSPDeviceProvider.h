#pragma once

#include "Provider.h"

class SMDSPDevice;

// A provider of serial-port devices. The host calls create() once for each
// configured device and owns the returned object from then on; it destroys
// it with `delete` through the device's virtual destructor.
class SMDSPDeviceProvider : public Provider {
public:
    ~SMDSPDeviceProvider() override {}
    virtual SMDSPDevice* create() const = 0;
};
