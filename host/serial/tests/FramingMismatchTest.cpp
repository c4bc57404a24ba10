// A simulated meter hears only requests sent at its own framing, as read
// from the pseudo-terminal's settings the host's line made: another speed,
// parity or stop bits is garbage to it, as to a real meter, and a scan
// finds its framing only by trying it.
#include "PolledAnswer.h"
#include "SimulatedMeter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FramingMismatchTest, AMeterAnswersOnlyAtItsOwnFraming) {
    const LineSettings own = LineSettings::Framed(19200, Parity::kEven, 1);
    struct Row {
        LineSettings host;
        bool answered;
    };
    const Row rows[] = {
        {LineSettings::Framed(19200, Parity::kEven, 1), true},
        {LineSettings::Framed(9600, Parity::kEven, 1), false},
        {LineSettings::Framed(19200, Parity::kNone, 1), false},
        {LineSettings::Framed(19200, Parity::kOdd, 1), false},
        {LineSettings::Framed(19200, Parity::kEven, 2), false},
        {LineSettings::Framed(38400, Parity::kEven, 1), false},
        {LineSettings::Framed(19200, Parity::kEven, 1), true},  // after all those, still in step
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
        EXPECT_EQ(AnswerBytes(io, line, 7, std::chrono::milliseconds(row.answered ? 1000 : 200)),
                  row.answered ? 58u : 0u)
            << name;
    }
}

}  // namespace
