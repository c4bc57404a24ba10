#pragma once

#include <array>
#include <cstddef>

// Why a round was lost, as the line's statistics count it.
enum class LossReason {
    kNoAnswer,      // nothing came within the answer timeout
    kShort,         // fewer bytes than an answer, then silence
    kTooLong,       // more bytes than an answer
    kWrongStation,  // an answer that another station sent
    kEchoMismatch,  // the adapter's echo was not the request sent
    kNoise,         // bytes that are no answer at all
    kBadChecksum,   // an answer whose bytes do not match its own checksum
    kTooEarly,      // a whole answer sooner than the line can carry one after the request
    kStandardForm,  // the standard 47-byte answer, not the driver's 58-byte block
    kException,     // a Modbus exception answer
    kLate,          // nothing within the timeout, then bytes before the late limit
    kLineGone,      // the port or the gateway's connection had gone away
};

constexpr std::size_t kLossReasonCount = 12;

constexpr std::array<LossReason, kLossReasonCount> kLossReasons = {
    LossReason::kNoAnswer,      LossReason::kShort, LossReason::kTooLong,
    LossReason::kWrongStation,  LossReason::kEchoMismatch, LossReason::kNoise,
    LossReason::kBadChecksum,   LossReason::kTooEarly, LossReason::kStandardForm,
    LossReason::kException,     LossReason::kLate,  LossReason::kLineGone,
};

// "no answer", "short", ...: for the printed table.
const char* LossReasonLabel(LossReason reason);
// "no_answer", "short", ...: for JSON keys.
const char* LossReasonKey(LossReason reason);
