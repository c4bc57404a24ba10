#pragma once

#include "GatewayAddress.h"
#include "LineTransport.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>

// A raw TCP connection to a serial-to-network gateway as the line's
// transport: the RTU frames go through it unchanged and the gateway puts
// them on its serial port, framed as the gateway is set. The network adds
// its round trip to every answer; it is measured at connect (the TCP
// handshake's time), so the answer timeout can allow for it.
class TcpGatewayTransport : public LineTransport {
public:
    // How long a connection may take before the gateway counts as unreachable.
    static constexpr std::chrono::seconds kConnectTimeout{5};

    // Connects; runs `io` until then (before anything else runs on it).
    // Throws BenchError (port) when the name does not resolve, the
    // connection is refused or does not come within the connect timeout.
    TcpGatewayTransport(boost::asio::io_context& io, const GatewayAddress& address);
    ~TcpGatewayTransport() override;

    boost::system::error_code Write(const unsigned char* data, std::size_t len) override;
    void ReadSome(boost::asio::mutable_buffer buffer, ReadHandler handler) override;
    void Close() override;
    std::string Name() const override;
    std::string GoneMessage() const override;

    // The TCP handshake's time: one round trip of the network.
    std::chrono::microseconds RoundTrip() const { return round_trip_; }

private:
    boost::asio::ip::tcp::socket socket_;
    GatewayAddress address_;
    std::chrono::microseconds round_trip_{0};
};
