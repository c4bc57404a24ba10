#include "SerialPortTransport.h"

#include "BenchError.h"
#include "PortAccess.h"

#include <boost/asio/write.hpp>

#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <thread>

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

// A pseudo-terminal never keeps the parity-enable bit, and refuses a
// change that asks for nothing else (the same parity again): the port then
// already shows that parity by its input checks and odd-parity bit.
bool SerialPortTransport::ShowsParity(Parity parity) const {
    termios settings{};
    if (::tcgetattr(const_cast<boost::asio::serial_port&>(port_).native_handle(), &settings) != 0)
        return false;
    const bool checked = (settings.c_iflag & INPCK) != 0 && (settings.c_iflag & IGNPAR) == 0;
    const bool odd = (settings.c_cflag & PARODD) != 0;
    switch (parity) {
    case Parity::kEven:
        return checked && !odd;
    case Parity::kOdd:
        return checked && odd;
    case Parity::kNone:
        break;
    }
    return !checked;
}

SerialPortTransport::SerialPortTransport(boost::asio::io_context& io, const std::string& path,
                                         const LineSettings& settings, const LinkOptions& link)
    : port_(io), identity_(PortIdentity::Of(path)) {
    if (settings.baud <= 0)
        throw BenchError(ExitCode::kPort, "cannot open " + Name() + ": no speed " +
                                              std::to_string(settings.baud));
    try {
        port_.open(path);
    } catch (const boost::system::system_error& failure) {
        if (failure.code() == boost::system::errc::device_or_resource_busy)
            Fail("cannot open " + Name() + ": busy, another program holds it");
        if (failure.code() == boost::system::errc::permission_denied)
            Fail("cannot open " + Name() + ": " + failure.code().message() + ": " +
                 PortAccess::DeniedReason(path));
        Fail("cannot open " + Name() + ": " + failure.code().message());
    }
    Apply(settings);
    Lock();
    if (link.rs485)
        SetRs485(*link.rs485);
    SetLowLatency();
    if (link.open_pause.count() > 0) {
        std::this_thread::sleep_for(link.open_pause);
        ::tcflush(port_.native_handle(), TCIFLUSH);
    }
}

SerialPortTransport::~SerialPortTransport() {
    Close();
}

void SerialPortTransport::Fail(const std::string& message) {
    boost::system::error_code ignored;
    port_.close(ignored);
    throw BenchError(ExitCode::kPort, message);
}

void SerialPortTransport::Apply(const LineSettings& settings) {
    SetSpeed(settings.baud);
    try {
        port_.set_option(
            serial_port_base::character_size(static_cast<unsigned int>(settings.data_bits)));
        boost::system::error_code refused;
        port_.set_option(serial_port_base::parity(ParityOf(settings.parity)), refused);
        if (refused && !ShowsParity(settings.parity))
            throw boost::system::system_error(refused);
        port_.set_option(serial_port_base::stop_bits(StopBitsOf(settings.stop_bits)));
        port_.set_option(serial_port_base::flow_control(serial_port_base::flow_control::none));
    } catch (const boost::system::system_error& failure) {
        Fail("cannot open " + Name() + ": " + failure.code().message());
    }
}

// A speed the port cannot take is named, as it is the user's to change.
void SerialPortTransport::SetSpeed(int baud) {
    boost::system::error_code error;
    port_.set_option(serial_port_base::baud_rate(static_cast<unsigned int>(baud)), error);
    if (error)
        Fail(Name() + " refuses " + std::to_string(baud) + " baud: " + error.message());
}

// The advisory lock keeps out programs that ask for it (a second bench
// host); the terminal's exclusive mode keeps out every other open() but
// root's, whether or not the program asks.
void SerialPortTransport::Lock() {
    if (::flock(port_.native_handle(), LOCK_EX | LOCK_NB) == 0) {
        if (::ioctl(port_.native_handle(), TIOCEXCL) == 0)
            return;
        const int error = errno;
        Fail("cannot open " + Name() + " exclusively: " + std::strerror(error));
    }
    const int error = errno;
    if (error == EWOULDBLOCK)
        Fail("cannot open " + Name() + ": busy, another program holds it");
    Fail("cannot lock " + Name() + ": " + std::strerror(error));
}

// The kernel drives RTS around each write: high while sending, low after,
// so a half-duplex transceiver lets go of the line for the answer.
void SerialPortTransport::SetRs485(const LinkOptions::Rs485& rs485) {
    struct serial_rs485 mode {};
    mode.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    mode.delay_rts_before_send = rs485.delay_before_ms;
    mode.delay_rts_after_send = rs485.delay_after_ms;
    if (::ioctl(port_.native_handle(), TIOCSRS485, &mode) == 0)
        return;
    const int error = errno;
    Fail(Name() + " has no RS-485 mode: its driver refuses it (" + std::strerror(error) +
         "); leave out --rs485, or use an adapter that switches the line itself");
}

// USB serial drivers that know the flag hand received bytes on at once;
// others refuse it, which costs nothing but time.
void SerialPortTransport::SetLowLatency() {
    struct serial_struct serial {};
    if (::ioctl(port_.native_handle(), TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    low_latency_ = ::ioctl(port_.native_handle(), TIOCSSERIAL, &serial) == 0;
}

boost::system::error_code SerialPortTransport::Write(const unsigned char* data, std::size_t len) {
    boost::system::error_code error;
    boost::asio::write(port_, boost::asio::buffer(data, len), error);
    return error;
}

void SerialPortTransport::ReadSome(boost::asio::mutable_buffer buffer, ReadHandler handler) {
    port_.async_read_some(buffer, std::move(handler));
}

void SerialPortTransport::Close() {
    // The exclusive mode outlives this descriptor while another one is open
    // (the simulated meter keeps one), so it is given up explicitly.
    if (port_.is_open())
        ::ioctl(port_.native_handle(), TIOCNXCL);
    boost::system::error_code ignored;
    port_.cancel(ignored);
    port_.close(ignored);
}

std::string SerialPortTransport::Name() const {
    return "serial port " + identity_.Label();
}

std::string SerialPortTransport::GoneMessage() const {
    return Name() + " closed: device unplugged?";
}
