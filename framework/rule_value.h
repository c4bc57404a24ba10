#pragma once

#include <string>

// One pending threshold rule evaluation, collected by the framework during a
// round and handed back to it in one batch (SMDVDevice::DoBatchCheckThreshold).
// Device drivers pass these through without looking inside.
struct rule_value {
    std::string key;
    float value = 0.0f;
    int level = 0;
};
