#pragma once

#include "LineSettings.h"
#include "LineTransport.h"
#include "LinkOptions.h"
#include "PortIdentity.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>

#include <string>

// A serial device of this machine as the line's transport: framed as its
// LineSettings say, no flow control, locked and in the terminal's
// exclusive mode (TIOCEXCL), so no other program opens it while it is in
// use; RS-485 mode and the driver's low-latency flag where asked and
// offered.
class SerialPortTransport : public LineTransport {
public:
    // Throws BenchError (port) when the device is missing, not a serial
    // port, refused (naming the group that owns it), refuses the speed or
    // RS-485 mode, or is held by another program.
    SerialPortTransport(boost::asio::io_context& io, const std::string& path,
                        const LineSettings& settings, const LinkOptions& link);
    ~SerialPortTransport() override;

    // Frames the open port anew (a scan tries one framing after another).
    void Apply(const LineSettings& settings);

    boost::system::error_code Write(const unsigned char* data, std::size_t len) override;
    void ReadSome(boost::asio::mutable_buffer buffer, ReadHandler handler) override;
    void Close() override;
    std::string Name() const override;
    std::string GoneMessage() const override;

    const PortIdentity& Identity() const { return identity_; }
    // Whether the driver took the low-latency flag (ASYNC_LOW_LATENCY).
    bool LowLatency() const { return low_latency_; }

private:
    [[noreturn]] void Fail(const std::string& message);
    void SetSpeed(int baud);
    bool ShowsParity(Parity parity) const;
    void Lock();
    void SetRs485(const LinkOptions::Rs485& rs485);
    void SetLowLatency();

    boost::asio::serial_port port_;
    PortIdentity identity_;
    bool low_latency_ = false;
};
