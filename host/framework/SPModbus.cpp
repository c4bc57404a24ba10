// Stand-in implementation of the framework's Modbus RTU device.
#include "SPModbus.h"

#include "FrameworkProbe.h"
#include "ModbusCrc.h"

#include <cstdint>

namespace {

constexpr unsigned char kReadInputRegisters = 0x04;

}  // namespace

SPModbus::SPModbus() = default;
SPModbus::~SPModbus() = default;

int SPModbus::InitSetting(const Json::Value& settings) {
    FrameworkProbe& probe = FrameworkProbe::Instance();
    if (probe.Recording()) {
        FrameworkCall call("SPModbus::InitSetting", this);
        call.settings = settings;
        probe.Record(std::move(call));
    }
    probe.ThrowIfFailing("SPModbus::InitSetting");
    return probe.init_setting_result;
}

// The plain Modbus device has no frame reader in this stand-in: drivers
// replace process(). Bytes reaching it are dropped and reported as an error.
int SPModbus::process(unsigned char*, unsigned int) {
    Reset();
    return on_error();
}

// Frames the request as Modbus RTU: station, function 4, start and quantity
// most significant byte first, then the CRC least significant byte first.
int SPModbus::modbus_read_input_registers(int start, int count) {
    FrameworkProbe& probe = FrameworkProbe::Instance();
    if (probe.Recording()) {
        FrameworkCall call("modbus_read_input_registers", this);
        call.station = station_address_;
        call.start = start;
        call.count = count;
        probe.Record(std::move(call));
    }
    probe.ThrowIfFailing("modbus_read_input_registers");

    unsigned char frame[8] = {
        station_address_,
        kReadInputRegisters,
        static_cast<unsigned char>((start >> 8) & 0xFF),
        static_cast<unsigned char>(start & 0xFF),
        static_cast<unsigned char>((count >> 8) & 0xFF),
        static_cast<unsigned char>(count & 0xFF),
        0,
        0,
    };
    const std::uint16_t checksum = ModbusChecksum(frame, 6);
    frame[6] = static_cast<unsigned char>(checksum & 0xFF);
    frame[7] = static_cast<unsigned char>(checksum >> 8);
    SendData(frame, sizeof frame);
    return probe.read_request_result;
}
