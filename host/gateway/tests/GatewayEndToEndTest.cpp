// The bench host through a real serial-to-network gateway: Debian's
// ser2net, started here on a loopback port in front of the simulated
// line's pseudo-terminal, carries the RTU frames over raw TCP. Every round
// completes with the same checks as on a direct line; a gateway that goes
// away, or was never there, is named as such.
#include "ScratchDirectory.h"
#include "TextPattern.h"
#include "ToolProcess.h"

#include <boost/asio/ip/tcp.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using boost::asio::ip::tcp;

std::string FindSer2net() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"})
        if (access(path, X_OK) == 0)
            return path;
    return "";
}

unsigned short FreePort() {
    boost::asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    return acceptor.local_endpoint().port();
}

bool Listening(unsigned short port) {
    boost::asio::io_context io;
    tcp::socket socket(io);
    boost::system::error_code error;
    socket.connect(tcp::endpoint(boost::asio::ip::address_v4::loopback(), port), error);
    return !error;
}

// A simulated meter on a pseudo-terminal and ser2net in front of it.
class GatewayEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ser2net_path = FindSer2net();
        if (ser2net_path.empty())
            GTEST_SKIP() << "ser2net is not installed (Debian package ser2net; scripts/test "
                            "installs it)";
        meter = std::make_unique<ToolProcess>(
            SIMULATED_METER, std::vector<std::string>{"--link", scratch.File("meter")},
            meter_dir.Path());
        ASSERT_TRUE(meter->WaitForOutput(", on /dev/", std::chrono::seconds(5))) << meter->Stderr();
        const std::string device = std::filesystem::read_symlink(scratch.File("meter")).string();
        port = FreePort();
        // ser2net 4's YAML: a raw TCP accepter on the loopback, the
        // pseudo-terminal as a serial device without modem lines.
        std::ofstream(scratch.File("ser2net.yaml"))
            << "%YAML 1.1\n---\n"
            << "connection: &meter\n"
            << "  accepter: tcp,127.0.0.1," << port << "\n"
            << "  connector: serialdev," << device << ",9600n81,local\n"
            << "  options:\n"
            << "    kickolduser: true\n";
        StartGateway();
    }

    void StartGateway() {
        gateway = std::make_unique<ToolProcess>(
            ser2net_path,
            std::vector<std::string>{"-n", "-u", "-c", scratch.File("ser2net.yaml")},
            gateway_dir.Path());
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Listening(port) && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(Listening(port)) << "ser2net did not listen: " << gateway->Stderr();
    }

    std::string Address() const { return "tcp:127.0.0.1:" + std::to_string(port); }

    ToolRun Host(std::vector<std::string> args) {
        args.insert(args.end(), {"--settings", std::string(QVT7702_EXAMPLES) + "/qvt7702-settings.json",
                                 "--history", scratch.File("history.sqlite")});
        return ToolProcess::RunToEnd(BENCH_HOST, args, scratch.Path());
    }

    ScratchDirectory scratch;
    ScratchDirectory meter_dir;
    ScratchDirectory gateway_dir;
    std::string ser2net_path;
    std::unique_ptr<ToolProcess> meter;
    std::unique_ptr<ToolProcess> gateway;
    unsigned short port = 0;
};

TEST_F(GatewayEndToEndTest, EveryRoundCompletesThroughTheGatewayWithTheNetworkAllowedFor) {
    const ToolRun run = Host({"--port", Address(), "--rounds", "10", "--interval", "0.05"});
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_NE(run.out.find("line: gateway " + Address() + " at 9600 baud 8N1"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("(with the network's round trip)"), std::string::npos) << run.out;
    const auto trip = TextPattern::Within("network round trip #.# ms at connect", run.out);
    ASSERT_TRUE(trip.has_value()) << run.out;
    EXPECT_LT(std::stod(trip->at(0) + "." + trip->at(1)), 100.0) << "a loopback round trip";
    const auto timeout = TextPattern::Within("answer timeout # ms", run.out);
    ASSERT_TRUE(timeout.has_value()) << run.out;
    EXPECT_GT(std::stoi(timeout->at(0)), 500) << "the line's 500 ms and the round trip, rounded up";
    EXPECT_NE(run.out.find("done: 10 rounds, 10 completed, 0 lost"), std::string::npos) << run.out;
}

TEST_F(GatewayEndToEndTest, AScanThroughTheGatewayFindsTheMeter) {
    const ToolRun run = Host({"--port", Address(), "--scan", "--stations", "1-3"});
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_NE(run.out.find("found: station 1 at 9600:8N1, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 requests in "), std::string::npos) << run.out;
}

TEST_F(GatewayEndToEndTest, AGatewayThatGoesAwayOrIsNotThereIsNamed) {
    ToolProcess host(BENCH_HOST,
                     {"--port", Address(), "--interval", "0.05", "--unplug", "end", "--settings",
                      std::string(QVT7702_EXAMPLES) + "/qvt7702-settings.json", "--history",
                      scratch.File("history.sqlite")},
                     scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("\n    2  ", std::chrono::seconds(10))) << host.Stdout();
    gateway->Signal(SIGTERM);
    gateway->Wait();
    const std::optional<int> status = host.WaitFor(std::chrono::seconds(10));
    ASSERT_TRUE(status) << "the host went on without its gateway";
    EXPECT_EQ(*status, 5);
    EXPECT_EQ(host.Stderr(), "bench_host: gateway " + Address() + " closed the connection\n");
    EXPECT_NE(host.Stdout().find("\nfailed: "), std::string::npos) << host.Stdout();

    const ToolRun refused = Host({"--port", Address(), "--rounds", "1"});
    EXPECT_EQ(refused.status, 5);
    EXPECT_EQ(refused.err, "bench_host: cannot connect to gateway " + Address() +
                               ": connection refused: no gateway listens there\n");
}

}  // namespace
