#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

// The bench host's end of a serial line: a Boost.Asio serial port at the
// device's speed, 8 data bits, no parity, 1 stop bit, no flow control.
class SerialLine {
public:
    using ReadHandler = std::function<void(const boost::system::error_code& error,
                                           unsigned char* data, std::size_t len)>;

    explicit SerialLine(boost::asio::io_context& io);

    // Opens the device, takes an exclusive lock on it and puts it in the
    // terminal's exclusive mode (TIOCEXCL), so no other program opens the
    // line while it is in use. Throws BenchError (port) when the device is
    // missing, is not a serial port, or is held by another program.
    void Open(const std::string& path, int baud);
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
    int Baud() const { return baud_; }

    // One Modbus character on the line: 11 bits.
    std::chrono::microseconds CharacterTime() const;
    // Quiet time that separates two frames: 3.5 characters, and a fixed
    // 1.75 ms above 19200 baud.
    std::chrono::microseconds SilentInterval() const;

private:
    void Lock();

    boost::asio::serial_port port_;
    std::string path_;
    int baud_ = 0;
    unsigned char read_buffer_[512] = {};
};
