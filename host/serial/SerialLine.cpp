#include "SerialLine.h"

#include "BenchError.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>

#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

using boost::asio::serial_port_base;

serial_port_base::parity::type ParityOf(Parity parity) {
    switch (parity) {
    case Parity::kEven:
        return serial_port_base::parity::even;
    case Parity::kOdd:
        return serial_port_base::parity::odd;
    case Parity::kNone:
        break;
    }
    return serial_port_base::parity::none;
}

serial_port_base::stop_bits::type StopBitsOf(int stop_bits) {
    return stop_bits == 2 ? serial_port_base::stop_bits::two : serial_port_base::stop_bits::one;
}

}  // namespace

SerialLine::SerialLine(boost::asio::io_context& io) : port_(io) {}

void SerialLine::Open(const std::string& path, const LineSettings& settings) {
    path_ = path;
    settings_ = settings;
    if (settings.baud <= 0)
        throw BenchError(ExitCode::kPort, "cannot open serial port " + path + ": no speed " +
                                              std::to_string(settings.baud));
    try {
        port_.open(path);
        SetSpeed(settings.baud);
        port_.set_option(
            serial_port_base::character_size(static_cast<unsigned int>(settings.data_bits)));
        port_.set_option(serial_port_base::parity(ParityOf(settings.parity)));
        port_.set_option(serial_port_base::stop_bits(StopBitsOf(settings.stop_bits)));
        port_.set_option(serial_port_base::flow_control(serial_port_base::flow_control::none));
    } catch (const boost::system::system_error& failure) {
        boost::system::error_code ignored;
        port_.close(ignored);
        if (failure.code() == boost::system::errc::device_or_resource_busy)
            throw BenchError(ExitCode::kPort,
                             "cannot open serial port " + path + ": busy, another program holds it");
        throw BenchError(ExitCode::kPort,
                         "cannot open serial port " + path + ": " + failure.code().message());
    }
    Lock();
}

// A speed the port cannot take is named, as it is the user's to change.
void SerialLine::SetSpeed(int baud) {
    boost::system::error_code error;
    port_.set_option(serial_port_base::baud_rate(static_cast<unsigned int>(baud)), error);
    if (!error)
        return;
    const std::string reason = error.message();
    port_.close(error);
    throw BenchError(ExitCode::kPort, "serial port " + path_ + " refuses " + std::to_string(baud) +
                                          " baud: " + reason);
}

// The advisory lock keeps out programs that ask for it (a second bench
// host); the terminal's exclusive mode keeps out every other open() but
// root's, whether or not the program asks.
void SerialLine::Lock() {
    if (::flock(port_.native_handle(), LOCK_EX | LOCK_NB) == 0) {
        if (::ioctl(port_.native_handle(), TIOCEXCL) == 0)
            return;
        const int error = errno;
        boost::system::error_code ignored;
        port_.close(ignored);
        throw BenchError(ExitCode::kPort, "cannot open serial port " + path_ +
                                              " exclusively: " + std::strerror(error));
    }
    const int error = errno;
    boost::system::error_code ignored;
    port_.close(ignored);
    if (error == EWOULDBLOCK)
        throw BenchError(ExitCode::kPort,
                         "cannot open serial port " + path_ + ": busy, another program holds it");
    throw BenchError(ExitCode::kPort,
                     "cannot lock serial port " + path_ + ": " + std::strerror(error));
}

void SerialLine::Close() {
    // The exclusive mode outlives this descriptor while another one is open
    // (the simulated meter keeps one), so it is given up explicitly.
    if (port_.is_open())
        ::ioctl(port_.native_handle(), TIOCNXCL);
    boost::system::error_code ignored;
    port_.cancel(ignored);
    port_.close(ignored);
}

void SerialLine::Write(const unsigned char* data, std::size_t len) {
    boost::system::error_code error;
    boost::asio::write(port_, boost::asio::buffer(data, len), error);
    if (error && Gone(error))
        throw BenchError(ExitCode::kPort, GoneMessage());
    if (error)
        throw BenchError(ExitCode::kPort, "cannot write to serial port " + path_ + ": " +
                                              error.message());
}

void SerialLine::ReadSome(ReadHandler handler) {
    port_.async_read_some(
        boost::asio::buffer(read_buffer_),
        [this, handler = std::move(handler)](const boost::system::error_code& error,
                                             std::size_t len) { handler(error, read_buffer_, len); });
}

bool SerialLine::Gone(const boost::system::error_code& error) {
    return error == boost::asio::error::eof || error == boost::system::errc::io_error ||
           error == boost::system::errc::no_such_device ||
           error == boost::system::errc::no_such_device_or_address;
}

std::string SerialLine::GoneMessage() const {
    return "serial port " + path_ + " closed: device unplugged?";
}
