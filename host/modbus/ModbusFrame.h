#pragma once

#include <cstddef>

// The Modbus RTU facts the stand-in framework, the bench tools and the
// simulated meter share: the one function the meter is polled with and the
// layout of its request.

// Read Input Registers.
constexpr unsigned char kReadInputRegisters = 0x04;

// A Read Input Registers request is 8 bytes: station, function, start and
// quantity most significant byte first, CRC-16/MODBUS least significant
// byte first.
constexpr std::size_t kReadRequestLength = 8;
