#pragma once

#include "LineSettings.h"
#include "LineTransport.h"
#include "LinkOptions.h"
#include "PortIdentity.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class SerialPortTransport;
class TcpGatewayTransport;

// The bench host's end of a line: a serial port of this machine framed as
// its LineSettings say (speed, parity, stop bits), no flow control, or
// ("tcp:HOST:PORT") a raw TCP connection to a serial-to-network gateway
// that carries the same frames. Whoever uses it only reads and writes
// bytes (LineTransport).
class SerialLine {
public:
    using Clock = std::chrono::steady_clock;
    using ReadHandler = std::function<void(const boost::system::error_code& error,
                                           unsigned char* data, std::size_t len)>;

    explicit SerialLine(boost::asio::io_context& io);
    ~SerialLine();

    // Opens the device, takes an exclusive lock on it and puts it in the
    // terminal's exclusive mode (TIOCEXCL), so no other program opens the
    // line while it is in use; or connects to the gateway `path` names.
    // Throws BenchError (port) when the device is missing, is not a serial
    // port, is refused (naming the group that owns it and whether the user
    // is in it), refuses the speed or the RS-485 mode, or is held by
    // another program; when the gateway refuses or does not answer.
    void Open(const std::string& path, const LineSettings& settings,
              const LinkOptions& link = LinkOptions{});
    void Close();
    bool IsOpen() const { return transport_ != nullptr; }

    // Closes the line and opens the same device again with the same
    // settings: by its /dev/serial/by-id name when it has one, so an
    // adapter that came back under another ttyUSB number is found again; a
    // gateway is connected to anew. Throws as Open does; an adapter that is
    // not back yet then fails with DevicePresent() false.
    void Reopen();
    // Whether the device is there to be opened (its stable name or path
    // exists); a gateway counts as present.
    bool DevicePresent() const;

    // Frames an open serial port anew; a gateway keeps its own framing, and
    // the settings then only set the line's times.
    void Apply(const LineSettings& settings);

    // Sends the bytes, no sooner than the request gap after the write
    // before; throws BenchError (port) when the line fails. A line that has
    // gone (see Gone) says so.
    void Write(const unsigned char* data, std::size_t len);
    // The earliest time the next write goes out at once (--request-gap): a
    // caller that waits for it keeps the gap out of its own timing.
    Clock::time_point EarliestWrite() const;

    // Waits for the next bytes to arrive and hands them to `handler`, once.
    void ReadSome(ReadHandler handler);

    // Whether a read or write error means the device has gone: a USB
    // adapter pulled out, the far end of a pseudo-terminal closed, the
    // gateway's connection closed or reset. Any other error is the line
    // failing while its device is still there.
    static bool Gone(const boost::system::error_code& error);
    std::string GoneMessage() const;

    // The path given to Open.
    const std::string& Path() const { return path_; }
    // What messages call the line: "serial port /dev/serial/by-id/usb-..
    // (/dev/ttyUSB0)", "gateway tcp:127.0.0.1:4001".
    std::string Name() const;
    int Baud() const { return settings_.baud; }
    const LineSettings& Settings() const { return settings_; }
    const LinkOptions& Link() const { return link_; }

    bool IsGateway() const { return gateway_ != nullptr; }
    // The network's round trip measured at connect; zero for a serial port.
    std::chrono::microseconds NetworkRoundTrip() const;
    // The serial device's names and adapter latency timer; for a gateway,
    // only its address as the path.
    const PortIdentity& Identity() const { return identity_; }
    // Whether the driver took the low-latency flag.
    bool LowLatency() const;

private:
    boost::asio::io_context& io_;
    std::unique_ptr<LineTransport> transport_;
    SerialPortTransport* port_ = nullptr;     // the transport, when a serial port
    TcpGatewayTransport* gateway_ = nullptr;  // the transport, when a gateway
    std::string path_;
    PortIdentity identity_;
    LineSettings settings_;
    LinkOptions link_;
    std::optional<Clock::time_point> last_write_;
    unsigned char read_buffer_[512] = {};
};
