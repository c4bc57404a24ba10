#pragma once

#include "QVT7702_Data_t.h"
#include "SPModbus.h"
#include "UniDataDevice.h"

#include <cstring>

// The smallest driver on the record device template: no frame handling of
// its own, its record and settings state open to the test.
class RecordTestDevice : public UniDataDevice<QVT7702_Data_t, SPModbus, 5178> {
public:
    int process(unsigned char*, unsigned int) override { return 0; }
    int process_payload(tab_type, unsigned int) override { return 1; }

    void RunCheckThreshold() override {
        ++threshold_hook_calls;
        UniDataDevice::RunCheckThreshold();
    }

    QVT7702_Data_t Record() const {
        QVT7702_Data_t copy;
        std::memcpy(&copy, RecordBytes(), sizeof copy);
        return copy;
    }
    const unsigned char* Bytes() const { return RecordBytes(); }

    using UniDataDevice::alarm_ids_;
    using UniDataDevice::b_mode_;
    using UniDataDevice::record_;
    using UniDataDevice::signal_names_;

    int threshold_hook_calls = 0;
};
