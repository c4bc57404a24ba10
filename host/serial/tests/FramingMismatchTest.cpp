// A simulated meter hears only requests sent at its own framing, as read
// from the pseudo-terminal's settings the host's line made: another speed,
// parity or stop bits is garbage to it, as to a real meter, and a scan
// finds its framing only by trying it.
#include "ModbusCrc.h"
#include "SerialLine.h"
#include "SimulatedMeter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

LineSettings Framed(int baud, Parity parity, int stop_bits) {
    LineSettings line;
    line.baud = baud;
    line.parity = parity;
    line.stop_bits = stop_bits;
    return line;
}

// The bytes that come back within `wait` of sending a poll of station 7.
std::size_t AnswerBytes(boost::asio::io_context& io, SerialLine& line,
                        std::chrono::milliseconds wait) {
    unsigned char poll_bytes[] = {7, 0x04, 0x00, 0x00, 0x00, 0x15, 0, 0};
    const std::uint16_t crc = ModbusChecksum(poll_bytes, 6);
    poll_bytes[6] = crc & 0xFF;
    poll_bytes[7] = crc >> 8;
    line.Write(poll_bytes, sizeof poll_bytes);
    std::size_t received = 0;
    std::function<void()> read_more = [&] {
        line.ReadSome([&](const boost::system::error_code& error, unsigned char*, std::size_t len) {
            received += len;
            if (!error && received < 58)
                read_more();
            else
                io.stop();
        });
    };
    read_more();
    io.restart();
    io.run_for(wait);
    return received;
}

TEST(FramingMismatchTest, AMeterAnswersOnlyAtItsOwnFraming) {
    const LineSettings own = Framed(19200, Parity::kEven, 1);
    struct Row {
        LineSettings host;
        bool answered;
    };
    const Row rows[] = {
        {Framed(19200, Parity::kEven, 1), true},   {Framed(9600, Parity::kEven, 1), false},
        {Framed(19200, Parity::kNone, 1), false},  {Framed(19200, Parity::kOdd, 1), false},
        {Framed(19200, Parity::kEven, 2), false},  {Framed(38400, Parity::kEven, 1), false},
        {Framed(19200, Parity::kEven, 1), true},  // after all those, still in step
    };
    SimulatedMeterOptions options;
    options.stations = {7};
    options.line = own;
    SimulatedMeter meter(options);
    meter.Start();
    boost::asio::io_context io;
    SerialLine line(io);
    line.Open(meter.PortPath(), rows[0].host);
    for (const Row& row : rows) {
        line.Apply(row.host);
        const std::string name = std::to_string(row.host.baud) + " " + row.host.Framing();
        EXPECT_EQ(AnswerBytes(io, line, std::chrono::milliseconds(row.answered ? 1000 : 200)),
                  row.answered ? 58u : 0u)
            << name;
    }
}

}  // namespace
