#pragma once

#include "LineSettings.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>

#include <cstddef>
#include <functional>
#include <string>

// The bench host's end of a serial line: a Boost.Asio serial port framed as
// its LineSettings say (speed, parity, stop bits), no flow control.
class SerialLine {
public:
    using ReadHandler = std::function<void(const boost::system::error_code& error,
                                           unsigned char* data, std::size_t len)>;

    explicit SerialLine(boost::asio::io_context& io);

    // Opens the device, takes an exclusive lock on it and puts it in the
    // terminal's exclusive mode (TIOCEXCL), so no other program opens the
    // line while it is in use. Throws BenchError (port) when the device is
    // missing, is not a serial port, refuses the speed, or is held by
    // another program.
    void Open(const std::string& path, const LineSettings& settings);
    void Close();

    // Sends the bytes; throws BenchError (port) when the line fails.
    // A line that has gone (see Gone) says so.
    void Write(const unsigned char* data, std::size_t len);

    // Waits for the next bytes to arrive and hands them to `handler`, once.
    void ReadSome(ReadHandler handler);

    // Whether a read or write error means the device has gone: a USB
    // adapter pulled out, the far end of a pseudo-terminal closed.
    static bool Gone(const boost::system::error_code& error);
    std::string GoneMessage() const;

    const std::string& Path() const { return path_; }
    int Baud() const { return settings_.baud; }
    const LineSettings& Settings() const { return settings_; }

private:
    void SetSpeed(int baud);
    void Lock();

    boost::asio::serial_port port_;
    std::string path_;
    LineSettings settings_;
    unsigned char read_buffer_[512] = {};
};
