#include "QVT7702.h"

#include "QVT7702Signals.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <cstring>
#include <stdexcept>

namespace {

const char kNotReady[] = "数据未就绪";
const char kTimedOut[] = "数据已超时";
const char kUnsupported[] = "不支持变量";

}  // namespace

QVT7702::QVT7702() {
    device_type_ = "qvt7702";
    baud_rate_ = kBaudRate;
    station_address_ = kStationAddress;
    serial_param_ = kSerialParameter;
    device_param_ = kDeviceParameter;
}

QVT7702::~QVT7702() = default;

float QVT7702::Get_Value(unsigned int, const std::string& key) const {
    if (!data_ready_)
        throw std::out_of_range(std::string(kNotReady));

    // A negative age (the local clock was set back) counts as fresh.
    const long long age =
        (boost::posix_time::second_clock::local_time() - last_update_).total_seconds();
    if (age > kMaxAgeSeconds)
        throw std::out_of_range(std::string(kTimedOut));

    for (int i = 0; i < kQVT7702SignalCount; ++i) {
        const QVT7702Signal& signal = kQVT7702Signals[i];
        if (key == signal.key)
            return QVT7702ScaledValue(signal, record_.values[signal.element]);
    }
    throw std::out_of_range(std::string(kUnsupported));
}

int QVT7702::RefreshStatus() {
    SMDSPDevice::RefreshStatus();
    request_pending_ = 1;
    modbus_read_input_registers(kPollStart, kPollQuantity);
    return 1;
}

// Gathers the answer in the framework's receive buffer. A chunk that does not
// fit in the room left ends the exchange and empties the buffer; so does a
// fill level the buffer cannot hold. The answer is decoded when exactly
// kAnswerLength bytes are held; a total that went past it keeps gathering
// until the framework resets the receive state.
int QVT7702::process(unsigned char* data, unsigned int len) {
    // The capacity comes from the framework's own declaration of the buffer.
    const int capacity = static_cast<int>(sizeof rx_buffer_);
    const int held = rx_length_;
    if (held < 0 || held > capacity || len > static_cast<unsigned int>(capacity - held)) {
        Reset();
        return 0;
    }
    if (len != 0) {
        std::memcpy(rx_buffer_ + held, data, len);
        rx_length_ = held + static_cast<int>(len);
    }
    if (rx_length_ != kAnswerLength)
        return 1;

    DecodeAnswer();
    RoundDone();
    return 0;
}

int QVT7702::process_payload(tab_type, unsigned int) {
    return 1;
}

void QVT7702::DecodeAnswer() {
    for (int i = 0; i < kWordCount; ++i) {
        const unsigned int high = rx_buffer_[kFirstWordByte + 2 * i];
        const unsigned int low = rx_buffer_[kFirstWordByte + 2 * i + 1];
        record_.values[i] = static_cast<float>(high * 256u + low);
    }
}
