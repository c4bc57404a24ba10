#pragma once

#include "SMDSPDeviceProvider.h"

// Creates QVT7702 meter drivers for the host.
class QVT7702Provider : public SMDSPDeviceProvider {
public:
    ~QVT7702Provider() override;
    SMDSPDevice* create() const override;
};
