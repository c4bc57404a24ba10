// A line through a serial-to-network gateway: the address it is given, a
// refused connection and a closed one named as such, bytes both ways.
#include "BenchError.h"
#include "GatewayAddress.h"
#include "SerialLine.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using boost::asio::ip::tcp;

TEST(GatewayAddressTest, TakesHostAndPortAndRefusesTheRest) {
    struct Row {
        const char* text;
        const char* host;  // nullptr: refused
        const char* port;
    };
    const Row rows[] = {
        {"tcp:127.0.0.1:4001", "127.0.0.1", "4001"},
        {"tcp:gateway.local:502", "gateway.local", "502"},
        {"tcp:[::1]:2000", "::1", "2000"},
        {"tcp:127.0.0.1", nullptr, nullptr},
        {"tcp::4001", nullptr, nullptr},
        {"tcp:host:0", nullptr, nullptr},
        {"tcp:host:65536", nullptr, nullptr},
        {"tcp:host:40x1", nullptr, nullptr},
        {"tcp:host:", nullptr, nullptr},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(GatewayAddress::Names(row.text)) << row.text;
        if (row.host == nullptr) {
            EXPECT_THROW(GatewayAddress::Parse(row.text), std::invalid_argument) << row.text;
            continue;
        }
        const GatewayAddress address = GatewayAddress::Parse(row.text);
        EXPECT_EQ(address.host, row.host) << row.text;
        EXPECT_EQ(address.port, row.port) << row.text;
        EXPECT_EQ(address.Text(), row.text);
    }
    EXPECT_FALSE(GatewayAddress::Names("/dev/ttyUSB0"));
}

// A port nobody listens on: one that was free a moment ago.
std::string FreePort() {
    boost::asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    return std::to_string(acceptor.local_endpoint().port());
}

TEST(GatewayLinkTest, ARefusedConnectionSaysSo) {
    boost::asio::io_context io;
    SerialLine line(io);
    const std::string path = "tcp:127.0.0.1:" + FreePort();
    try {
        line.Open(path, LineSettings{});
        FAIL() << "a connection nobody accepts was taken";
    } catch (const BenchError& failure) {
        EXPECT_EQ(failure.Code(), ExitCode::kPort);
        EXPECT_EQ(std::string(failure.what()),
                  "cannot connect to gateway " + path + ": connection refused: no gateway "
                  "listens there");
    }
}

TEST(GatewayLinkTest, BytesGoBothWaysAndAClosedConnectionIsGone) {
    boost::asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    tcp::socket far_end(io);
    acceptor.async_accept(far_end, [](const boost::system::error_code&) {});
    SerialLine line(io);
    const std::string path = "tcp:127.0.0.1:" + std::to_string(acceptor.local_endpoint().port());
    line.Open(path, LineSettings{});
    io.run();  // the accept
    io.restart();
    EXPECT_TRUE(line.IsGateway());
    EXPECT_GT(line.NetworkRoundTrip().count(), 0);
    EXPECT_LT(line.NetworkRoundTrip().count(), 1000000) << "a loopback round trip";
    EXPECT_EQ(line.Name(), "gateway " + path);

    const unsigned char request[] = {0x01, 0x04, 0x00, 0x00, 0x00, 0x15, 0x31, 0xC5};
    line.Write(request, sizeof request);
    unsigned char seen[sizeof request] = {};
    boost::asio::read(far_end, boost::asio::buffer(seen));
    EXPECT_EQ(std::string(seen, seen + sizeof seen), std::string(request, request + sizeof request));

    const unsigned char answer[] = {0x01, 0x84, 0x02, 0xC2, 0xC1};
    boost::asio::write(far_end, boost::asio::buffer(answer));
    std::string received;
    line.ReadSome([&](const boost::system::error_code& error, unsigned char* data, std::size_t len) {
        ASSERT_FALSE(error);
        received.assign(data, data + len);
    });
    io.run();
    io.restart();
    EXPECT_EQ(received, std::string(answer, answer + sizeof answer));

    far_end.close();
    boost::system::error_code after_close;
    line.ReadSome([&](const boost::system::error_code& error, unsigned char*, std::size_t) {
        after_close = error;
    });
    io.run();
    EXPECT_TRUE(SerialLine::Gone(after_close)) << after_close.message();
    EXPECT_EQ(line.GoneMessage(), "gateway " + path + " closed the connection");
}

}  // namespace
