#include "TcpGatewayTransport.h"

#include "BenchError.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>

#include <optional>

namespace {

std::string Why(const boost::system::error_code& error) {
    if (error == boost::asio::error::connection_refused)
        return "connection refused: no gateway listens there";
    if (error == boost::asio::error::timed_out || error == boost::asio::error::operation_aborted)
        return "no answer within " + std::to_string(TcpGatewayTransport::kConnectTimeout.count()) +
               " s";
    return error.message();
}

}  // namespace

TcpGatewayTransport::TcpGatewayTransport(boost::asio::io_context& io,
                                         const GatewayAddress& address)
    : socket_(io), address_(address) {
    using boost::asio::ip::tcp;
    boost::system::error_code error;
    tcp::resolver resolver(io);
    const tcp::resolver::results_type endpoints = resolver.resolve(address.host, address.port, error);
    if (error)
        throw BenchError(ExitCode::kPort, "cannot reach " + Name() + ": " + error.message());

    // The handshake is timed alone, after the name is resolved.
    std::optional<boost::system::error_code> connected;
    const auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point finished;
    boost::asio::async_connect(socket_, endpoints,
                               [&](const boost::system::error_code& result, const tcp::endpoint&) {
                                   finished = std::chrono::steady_clock::now();
                                   connected = result;
                               });
    io.restart();
    io.run_for(kConnectTimeout);
    if (!connected) {
        socket_.close(error);
        io.run();  // the cancelled connect's handler
        connected = boost::asio::error::timed_out;
    }
    io.restart();
    if (*connected)
        throw BenchError(ExitCode::kPort, "cannot connect to " + Name() + ": " + Why(*connected));
    round_trip_ = std::chrono::duration_cast<std::chrono::microseconds>(finished - started);
    // A request is one small write: sent at once, not held for more.
    socket_.set_option(tcp::no_delay(true), error);
}

TcpGatewayTransport::~TcpGatewayTransport() {
    Close();
}

boost::system::error_code TcpGatewayTransport::Write(const unsigned char* data, std::size_t len) {
    boost::system::error_code error;
    boost::asio::write(socket_, boost::asio::buffer(data, len), error);
    return error;
}

void TcpGatewayTransport::ReadSome(boost::asio::mutable_buffer buffer, ReadHandler handler) {
    socket_.async_read_some(buffer, std::move(handler));
}

void TcpGatewayTransport::Close() {
    boost::system::error_code ignored;
    socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.cancel(ignored);
    socket_.close(ignored);
}

std::string TcpGatewayTransport::Name() const {
    return "gateway " + address_.Text();
}

std::string TcpGatewayTransport::GoneMessage() const {
    return Name() + " closed the connection";
}
