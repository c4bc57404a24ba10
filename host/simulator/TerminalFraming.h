#pragma once

#include "LineSettings.h"

#include <termios.h>

#include <optional>

// The framing a pseudo-terminal's settings carry. Bytes on a pseudo-
// terminal pass whatever speed and parity either side set, but the host's
// settings stay readable on the terminal side: a simulated meter reads them
// and, like a real one, hears a request sent at another speed or framing as
// garbage. Linux keeps a pseudo-terminal's speed, stop bits and odd-parity
// bit, but clears its parity-enable bit (and forces 8 data bits); a serial
// port opened with parity also asks for input parity checks (INPCK) and
// stops ignoring parity errors (IGNPAR), which stay, so that is how parity
// is told from none.
namespace TerminalFraming {

// Puts the line's framing into `settings` (speed, parity, stop bits).
void Apply(termios& settings, const LineSettings& line);
// The framing a terminal's settings show; the speed 0 when it is not one
// of the terminal's standard speeds.
LineSettings Read(const termios& settings);
// Whether a meter framed `own` hears bytes sent at `heard`. A speed the
// terminal cannot show (such as 12345) is not compared.
bool Hears(const LineSettings& own, const LineSettings& heard);
// Reads the terminal's settings through `fd`; a terminal that cannot be
// read is heard.
bool Hears(const LineSettings& own, int fd);

}  // namespace TerminalFraming
