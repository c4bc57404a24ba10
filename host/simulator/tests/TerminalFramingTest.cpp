// The framing a simulated meter reads from its pseudo-terminal's settings.
#include "TerminalFraming.h"

#include <gtest/gtest.h>


namespace {

// The settings as written and read back keep every framing apart, also
// through a pseudo-terminal that clears the parity-enable bit.
TEST(TerminalFramingTest, EveryFramingReadsBackAsItselfWithoutTheParityEnableBit) {
    for (const Parity parity : {Parity::kNone, Parity::kEven, Parity::kOdd})
        for (const int stop_bits : {1, 2})
            for (const int baud : {1200, 9600, 115200}) {
                const LineSettings line = LineSettings::Framed(baud, parity, stop_bits);
                termios settings{};
                TerminalFraming::Apply(settings, line);
                settings.c_cflag &= ~PARENB;
                // A serial port set to no parity ignores parity errors and
                // may keep its input checks on.
                if (parity == Parity::kNone)
                    settings.c_iflag |= INPCK | IGNPAR;
                const LineSettings read = TerminalFraming::Read(settings);
                EXPECT_TRUE(TerminalFraming::Hears(line, read))
                    << baud << " " << line.Framing() << " read as " << read.baud << " "
                    << read.Framing();
                const int other_baud = baud == 9600 ? 19200 : 9600;
                EXPECT_FALSE(TerminalFraming::Hears(
                    LineSettings::Framed(other_baud, parity, stop_bits), read));
            }
}

}  // namespace
