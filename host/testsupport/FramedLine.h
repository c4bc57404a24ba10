#pragma once

#include "LineSettings.h"

// A line's settings at a speed, parity and number of stop bits, 8 data
// bits: the rows of the framing tests of the line and of the simulated
// meter.
inline LineSettings FramedLine(int baud, Parity parity, int stop_bits) {
    LineSettings line;
    line.baud = baud;
    line.parity = parity;
    line.stop_bits = stop_bits;
    return line;
}
