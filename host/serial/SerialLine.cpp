#include "SerialLine.h"

#include "BenchError.h"
#include "GatewayAddress.h"
#include "SerialPortTransport.h"
#include "TcpGatewayTransport.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

SerialLine::SerialLine(boost::asio::io_context& io) : io_(io) {}

SerialLine::~SerialLine() = default;

void SerialLine::Open(const std::string& path, const LineSettings& settings,
                      const LinkOptions& link) {
    Close();
    path_ = path;
    settings_ = settings;
    link_ = link;
    last_write_.reset();
    if (GatewayAddress::Names(path)) {
        GatewayAddress address;
        try {
            address = GatewayAddress::Parse(path);
        } catch (const std::invalid_argument& failure) {
            throw BenchError(ExitCode::kPort, std::string("cannot open ") + failure.what());
        }
        auto gateway = std::make_unique<TcpGatewayTransport>(io_, address);
        identity_ = PortIdentity();
        gateway_ = gateway.get();
        transport_ = std::move(gateway);
        if (link.open_pause.count() > 0)
            std::this_thread::sleep_for(link.open_pause);
        return;
    }
    auto port = std::make_unique<SerialPortTransport>(io_, path, settings, link);
    identity_ = port->Identity();
    port_ = port.get();
    transport_ = std::move(port);
}

void SerialLine::Close() {
    if (transport_)
        transport_->Close();
    transport_.reset();
    port_ = nullptr;
    gateway_ = nullptr;
}

void SerialLine::Reopen() {
    const std::string path = gateway_ ? path_ : identity_.ReopenPath();
    const std::string given = path_;
    Open(path.empty() ? given : path, settings_, link_);
    path_ = given;
}

bool SerialLine::DevicePresent() const {
    if (GatewayAddress::Names(path_))
        return true;
    std::error_code ignored;
    return std::filesystem::exists(identity_.ReopenPath().empty() ? path_ : identity_.ReopenPath(),
                                   ignored);
}

void SerialLine::Apply(const LineSettings& settings) {
    settings_ = settings;
    if (port_)
        port_->Apply(settings);
}

SerialLine::Clock::time_point SerialLine::EarliestWrite() const {
    if (!last_write_ || link_.request_gap.count() == 0)
        return Clock::time_point::min();
    return *last_write_ + link_.request_gap;
}

void SerialLine::Write(const unsigned char* data, std::size_t len) {
    if (!transport_)
        throw BenchError(ExitCode::kPort, "cannot write to " + Name() + ": it is closed");
    const Clock::time_point earliest = EarliestWrite();
    if (Clock::now() < earliest)
        std::this_thread::sleep_until(earliest);
    last_write_ = Clock::now();
    const boost::system::error_code error = transport_->Write(data, len);
    if (error && Gone(error))
        throw BenchError(ExitCode::kPort, GoneMessage());
    if (error)
        throw BenchError(ExitCode::kPort, "cannot write to " + Name() + ": " + error.message());
}

void SerialLine::ReadSome(ReadHandler handler) {
    if (!transport_) {
        boost::asio::post(io_, [this, handler = std::move(handler)] {
            handler(boost::asio::error::operation_aborted, read_buffer_, 0);
        });
        return;
    }
    transport_->ReadSome(boost::asio::buffer(read_buffer_),
                         [this, handler = std::move(handler)](const boost::system::error_code& error,
                                                              std::size_t len) {
                             handler(error, read_buffer_, len);
                         });
}

bool SerialLine::Gone(const boost::system::error_code& error) {
    return error == boost::asio::error::eof || error == boost::system::errc::io_error ||
           error == boost::system::errc::no_such_device ||
           error == boost::system::errc::no_such_device_or_address ||
           error == boost::asio::error::connection_reset ||
           error == boost::asio::error::connection_aborted ||
           error == boost::asio::error::broken_pipe;
}

std::string SerialLine::GoneMessage() const {
    if (transport_)
        return transport_->GoneMessage();
    return Name() + " closed: device unplugged?";
}

std::string SerialLine::Name() const {
    if (transport_)
        return transport_->Name();
    return "serial port " + (identity_.Path().empty() ? path_ : identity_.Label());
}

std::chrono::microseconds SerialLine::NetworkRoundTrip() const {
    return gateway_ ? gateway_->RoundTrip() : std::chrono::microseconds(0);
}

bool SerialLine::LowLatency() const {
    return port_ != nullptr && port_->LowLatency();
}
