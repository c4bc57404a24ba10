#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>
#include <vector>

class SMDVDevice;

// One call that a device made into the stand-in framework, with its
// arguments. Only the fields that belong to `name` are filled.
struct FrameworkCall {
    FrameworkCall() = default;
    FrameworkCall(const char* call_name, const SMDVDevice* caller) : name(call_name), device(caller) {}

    std::string name;                  // e.g. "SendSP", "Reset", "CheckAOReport"
    const SMDVDevice* device = nullptr;

    int data_id = 0;                   // SendSP
    bool flag = false;                 // SendSP
    std::vector<unsigned char> bytes;  // SendSP, SaveDeviceHistory, SendData

    std::string key;                   // CheckAOReport, CheckThreshold
    std::string detail;                // CheckThreshold
    float value = 0.0f;                // CheckAOReport, CheckThreshold
    int source = 0;                    // CheckThreshold

    std::size_t rule_count = 0;        // DoBatchCheckThreshold

    int station = 0;                   // modbus_read_input_registers
    int start = 0;                     // modbus_read_input_registers
    int count = 0;                     // modbus_read_input_registers

    Json::Value settings;              // SPModbus::InitSetting
};
