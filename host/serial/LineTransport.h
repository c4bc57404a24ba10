#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/system/error_code.hpp>

#include <cstddef>
#include <functional>
#include <string>

// What carries the line's bytes: a serial port on this machine, or a TCP
// connection to a serial-to-network gateway that puts the same RTU frames
// on its own serial port. The round loop only reads and writes bytes; the
// line's framing is the port's (or the gateway's) business.
class LineTransport {
public:
    using ReadHandler = std::function<void(const boost::system::error_code& error, std::size_t len)>;

    virtual ~LineTransport() = default;

    // Hands all the bytes over; the error of a failed write, else none.
    virtual boost::system::error_code Write(const unsigned char* data, std::size_t len) = 0;
    // Waits for the next bytes; calls `handler` once.
    virtual void ReadSome(boost::asio::mutable_buffer buffer, ReadHandler handler) = 0;
    // Cancels a pending read and lets go of the device or connection.
    virtual void Close() = 0;
    // What the line's messages call it: "serial port /dev/ttyUSB0",
    // "gateway tcp:10.0.0.5:4001".
    virtual std::string Name() const = 0;
    // The sentence for a line that has gone (see SerialLine::Gone).
    virtual std::string GoneMessage() const = 0;
};
