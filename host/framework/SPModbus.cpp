// Stand-in implementation of the framework's Modbus RTU device.
#include "SPModbus.h"

#include "FrameworkSink.h"
#include "ReadRequest.h"
#include "SerialDeviceSettings.h"

#include <cstdint>

SPModbus::SPModbus() = default;
SPModbus::~SPModbus() = default;

int SPModbus::InitSetting(const Json::Value& settings) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("SPModbus::InitSetting", this);
        call.settings = settings;
        sink.Called(std::move(call));
    }
    // Which station a meter answers at is the line's business, so it comes
    // with the device's settings; a device whose settings name none keeps
    // the address it gave itself.
    if (const auto station = SerialDeviceSettings::StationIn(settings))
        station_address_ = *station;
    return sink.InitSettingResult();
}

// The plain Modbus device has no frame reader in this stand-in: drivers
// replace process(). Bytes reaching it are dropped and reported as an error.
int SPModbus::process(unsigned char*, unsigned int) {
    Reset();
    return on_error();
}

// Frames the request as Modbus RTU (ReadRequest) and sends it.
int SPModbus::modbus_read_input_registers(int start, int count) {
    FrameworkSink& sink = FrameworkSink::Current();
    if (sink.WantsCalls()) {
        FrameworkCall call("modbus_read_input_registers", this);
        call.station = station_address_;
        call.start = start;
        call.count = count;
        sink.Called(std::move(call));
    }

    ReadRequest request;
    request.station = station_address_;
    request.start = static_cast<std::uint16_t>(start);
    request.quantity = static_cast<std::uint16_t>(count);
    const ReadRequestFrame frame = request.Frame();
    SendData(frame.data(), static_cast<unsigned int>(frame.size()));
    return sink.ReadRequestResult();
}
