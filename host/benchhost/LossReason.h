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
};

constexpr std::size_t kLossReasonCount = 7;

constexpr std::array<LossReason, kLossReasonCount> kLossReasons = {
    LossReason::kNoAnswer,      LossReason::kShort, LossReason::kTooLong,
    LossReason::kWrongStation,  LossReason::kEchoMismatch, LossReason::kNoise,
    LossReason::kBadChecksum,
};

// "no answer", "short", ...: for the printed table.
const char* LossReasonLabel(LossReason reason);
// "no_answer", "short", ...: for JSON keys.
const char* LossReasonKey(LossReason reason);
