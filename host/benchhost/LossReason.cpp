#include "LossReason.h"

const char* LossReasonLabel(LossReason reason) {
    switch (reason) {
    case LossReason::kNoAnswer:
        return "no answer";
    case LossReason::kShort:
        return "short";
    case LossReason::kTooLong:
        return "too long";
    case LossReason::kWrongStation:
        return "wrong station";
    case LossReason::kEchoMismatch:
        return "echo mismatch";
    case LossReason::kNoise:
        return "noise";
    case LossReason::kBadChecksum:
        return "bad checksum";
    }
    return "unknown";
}

const char* LossReasonKey(LossReason reason) {
    switch (reason) {
    case LossReason::kNoAnswer:
        return "no_answer";
    case LossReason::kShort:
        return "short";
    case LossReason::kTooLong:
        return "too_long";
    case LossReason::kWrongStation:
        return "wrong_station";
    case LossReason::kEchoMismatch:
        return "echo_mismatch";
    case LossReason::kNoise:
        return "noise";
    case LossReason::kBadChecksum:
        return "bad_checksum";
    }
    return "unknown";
}
