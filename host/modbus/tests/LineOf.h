#pragma once

#include "LineSettings.h"

// A line at the given speed and framing, 8 data bits, for tests that work
// timings out by hand.
inline LineSettings LineOf(int baud, Parity parity, int stop_bits) {
    LineSettings line;
    line.baud = baud;
    line.parity = parity;
    line.stop_bits = stop_bits;
    return line;
}
