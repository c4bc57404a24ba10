#include "LossNotes.h"

#include "HexText.h"
#include "ModbusCrc.h"

#include <cstdio>

namespace {

std::string Within(unsigned long timeout_ms) {
    return " within " + std::to_string(timeout_ms) + " ms";
}

std::string Milliseconds(std::chrono::microseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(time.count()) / 1000.0);
    return text;
}

}  // namespace

// The codes a Modbus exception answer carries.
const char* LossNotes::ExceptionName(std::uint8_t code) {
    switch (code) {
    case 0x01: return "illegal function";
    case 0x02: return "illegal data address";
    case 0x03: return "illegal data value";
    case 0x04: return "server device failure";
    case 0x05: return "acknowledge";
    case 0x06: return "server device busy";
    case 0x0A: return "gateway path unavailable";
    case 0x0B: return "gateway target device failed to respond";
    default: return "unknown code";
    }
}

namespace LossNotes {

std::string EchoMismatch(const std::vector<unsigned char>& echo) {
    return "lost: the echo " + HexText(echo.data(), echo.size()) +
           " does not match the request sent";
}

std::string EchoMissing(std::size_t heard, std::size_t expected, unsigned long timeout_ms) {
    return "lost: " + std::to_string(heard) + " of " + std::to_string(expected) +
           " echo bytes, no answer" + Within(timeout_ms);
}

std::string Stranger(std::uint8_t first_byte, std::uint8_t station) {
    return "lost: the answer starts with " + HexText(&first_byte, 1) + ", not station " +
           std::to_string(station) + "'s address; not handed to the meter";
}

// A meter of another make may close its block with a checksum at another
// place: the first frame length whose last two bytes check says where.
std::string BadChecksum(const std::vector<unsigned char>& answer) {
    std::string note = "lost: the answer's checksum does not match its bytes; not handed to the meter";
    for (std::size_t len = 5; len < answer.size(); ++len)
        if (ModbusChecksumMatches(answer.data(), len)) {
            note += " (a checksum of its first " + std::to_string(len - 2) + " bytes sits at bytes " +
                    std::to_string(len - 2) + " and " + std::to_string(len - 1) + ")";
            break;
        }
    return note;
}

std::string TooEarly(std::chrono::microseconds after_request, std::chrono::microseconds floor) {
    return "lost: a whole answer " + Milliseconds(after_request) +
           " after the request, sooner than the line carries one (" + Milliseconds(floor) +
           "): it was sent before the request was heard; not stored";
}

std::string Followed(std::size_t bytes) {
    return "lost: " + std::to_string(bytes) + (bytes == 1 ? " more byte" : " more bytes") +
           " followed the answer, so it may be an earlier request's; not stored";
}

std::string FollowedLater() {
    return "lost: more bytes followed the answer, so it may be an earlier request's; not stored";
}

std::string FollowedEarly() {
    return "lost: more bytes followed the answer before the next request could be answered, so it "
           "may be an earlier request's; not stored";
}

std::string NoAnswer(unsigned long timeout_ms) {
    return "lost: no answer" + Within(timeout_ms);
}

std::string Incomplete(std::size_t bytes, unsigned long timeout_ms) {
    return "lost: " + std::to_string(bytes) + " bytes, no complete answer" + Within(timeout_ms);
}

std::string StandardForm(std::size_t bytes) {
    return "lost: this meter answers in the standard " + std::to_string(bytes) +
           "-byte form; the driver takes a fixed 58-byte block";
}

std::string Exception(std::uint8_t code) {
    return "lost: the meter answered Modbus exception " + HexText(&code, 1) + " (" +
           ExceptionName(code) + ")";
}

std::string Late(std::uint8_t station, unsigned long timeout_ms, std::size_t bytes,
                 std::chrono::milliseconds after_request) {
    return "late: " + std::to_string(bytes) + " bytes came after station " +
           std::to_string(station) + "'s " + std::to_string(timeout_ms) +
           " ms timeout, the first " + std::to_string(after_request.count()) +
           " ms after the request; dropped";
}

std::string LineGone(const std::string& since) {
    return "lost: the line is gone since " + since + "; nothing sent";
}

std::string Overflow() {
    return "lost: receive buffer overflow";
}

std::string Stopped() {
    return "stopped: exchange cut short, nothing stored";
}

std::string NotConfirmed() {
    return "stopped: the answer was not yet confirmed by a quiet line; not stored";
}

}  // namespace LossNotes
