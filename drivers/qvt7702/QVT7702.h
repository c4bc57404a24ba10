#pragma once

#include "QVT7702_Data_t.h"
#include "SPModbus.h"
#include "UniDataDevice.h"

#include <string>

// The QVT7702 three-phase meter on a Modbus RTU line.
//
// Every status refresh asks the meter for input registers 0..20. The meter
// answers with a fixed 58-byte block; its bytes 9..32 carry the twelve
// register words the record keeps, most significant byte first. Everything
// else in the block (address, function code, byte count, the remaining
// registers, checksum) is not looked at.
class QVT7702 : public UniDataDevice<QVT7702_Data_t, SPModbus, 5178> {
public:
    static constexpr int kAnswerLength = 58;
    static constexpr int kFirstWordByte = 9;
    static constexpr int kWordCount = 12;
    static constexpr int kPollStart = 0;
    static constexpr int kPollQuantity = 21;
    static constexpr long long kMaxAgeSeconds = 60;
    static constexpr int kBaudRate = 9600;
    static constexpr int kStationAddress = 1;
    // Two settings the controller's framework reads from every serial device.
    // What the controller makes of them is its own and is not known here; the
    // driver passes the values this meter has always been configured with.
    // The stand-in framework on the workstation uses neither.
    static constexpr int kSerialParameter = 3;
    static constexpr int kDeviceParameter = 600;

    QVT7702();
    ~QVT7702() override;

    // Value of one signal: "Ua", "Ub", "Uc", "Uab", "Ubc", "Uca" in volts,
    // "Ia", "Ic" as the meter reports them. Throws std::out_of_range when no
    // data has arrived yet, when the latest round is more than 60 seconds
    // old, or for any other key.
    float Get_Value(unsigned int index, const std::string& key) const override;

    int RefreshStatus() override;
    int process(unsigned char* data, unsigned int len) override;
    int process_payload(tab_type table, unsigned int count) override;

private:
    void DecodeAnswer();
};
