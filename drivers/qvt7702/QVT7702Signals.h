#pragma once

// The meter's signals: which element of QVT7702_Data_t::values each one is
// read from, and what it is divided by when queried. This one table serves
// the driver's value lookup and every tool that decodes stored records, so
// a column can never be read from the wrong element in one place only.
//
// Element i of the record is register word i of the answer (bytes 9 + 2i
// and 10 + 2i). Voltages are stored in hundredths of a volt and queried in
// volts; currents are served as the meter reports them. Elements 0, 7, 10
// and 11 are kept in the record but have no signal.

enum QVT7702Element {
    kElementUab = 1,
    kElementUbc = 2,
    kElementUca = 3,
    kElementUa = 4,
    kElementUb = 5,
    kElementUc = 6,
    kElementIa = 8,
    kElementIc = 9,
};

struct QVT7702Signal {
    const char* key;    // the signal key queries and settings use
    int element;        // index into QVT7702_Data_t::values
    float divisor;      // queried value = stored word / divisor
};

// A division, never a multiplication by the reciprocal: for many words
// (23010, for one) word / 100 and word * 0.01 are different floats, and the
// controller's operators compare values with what the meter displays.
inline float QVT7702ScaledValue(const QVT7702Signal& signal, float stored) {
    return stored / signal.divisor;
}

const int kQVT7702SignalCount = 8;

// In the order tools show them: phase voltages, line voltages, currents.
const QVT7702Signal kQVT7702Signals[kQVT7702SignalCount] = {
    {"Ua", kElementUa, 100.0f},   {"Ub", kElementUb, 100.0f},   {"Uc", kElementUc, 100.0f},
    {"Uab", kElementUab, 100.0f}, {"Ubc", kElementUbc, 100.0f}, {"Uca", kElementUca, 100.0f},
    {"Ia", kElementIa, 1.0f},     {"Ic", kElementIc, 1.0f},
};
