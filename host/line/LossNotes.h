#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every sentence with which the live table says why an exchange was lost,
// in one place.
namespace LossNotes {

std::string EchoMismatch(const std::vector<unsigned char>& echo);
std::string EchoMissing(std::size_t heard, std::size_t expected, unsigned long timeout_ms);
std::string Stranger(std::uint8_t first_byte, std::uint8_t station);
// The answer's checksum fails; names a checksum that matches elsewhere in it.
std::string BadChecksum(const std::vector<unsigned char>& answer);
std::string TooEarly(std::chrono::microseconds after_request, std::chrono::microseconds floor);
std::string Followed(std::size_t bytes);
std::string FollowedEarly();
std::string FollowedLater();
std::string NoAnswer(unsigned long timeout_ms);
std::string Incomplete(std::size_t bytes, unsigned long timeout_ms);
std::string StandardForm(std::size_t bytes);
std::string Exception(std::uint8_t code);
// "illegal data address" for 02, the name of each code a Modbus exception
// answer carries.
const char* ExceptionName(std::uint8_t code);
// Not a row's note: the --verbose line for bytes that came after a loss
// without an answer.
std::string Late(std::uint8_t station, unsigned long timeout_ms, std::size_t bytes,
                 std::chrono::milliseconds after_request);
std::string Overflow();
std::string LineGone(const std::string& since);
std::string Stopped();
std::string NotConfirmed();

}  // namespace LossNotes
