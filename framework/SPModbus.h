#pragma once

#include "SMDSPDevice.h"

#include <cstdint>
#include <iostream>

// A Modbus RTU device on a serial line.
class SPModbus : public SMDSPDevice {
public:
    // Modbus data tables, as passed to process_payload.
    enum tab_type {
        TAB_COILS = 0,
        TAB_DISCRETE_INPUTS = 1,
        TAB_HOLDING_REGISTERS = 2,
        TAB_INPUT_REGISTERS = 3,
    };

    SPModbus();
    ~SPModbus() override;

    int InitSetting(const Json::Value& settings) override;
    int process(unsigned char* data, unsigned int len) override;

    // One decoded register table of an answer.
    virtual int process_payload(tab_type table, unsigned int count) = 0;

    virtual int on_error() {
        std::cout << "SPModbus get error" << std::endl;
        return 0;
    }

    // Send Read Input Registers (function 4) to station_address_.
    int modbus_read_input_registers(int start, int count);

    std::uint8_t station_address_ = 0;
};
