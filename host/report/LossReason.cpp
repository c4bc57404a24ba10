#include "LossReason.h"

namespace {

struct LossReasonNames {
    LossReason reason;
    const char* label;
    const char* key;
};

// One row a reason, in the order of kLossReasons.
constexpr LossReasonNames kNames[] = {
    {LossReason::kNoAnswer, "no answer", "no_answer"},
    {LossReason::kShort, "short", "short"},
    {LossReason::kTooLong, "too long", "too_long"},
    {LossReason::kWrongStation, "wrong station", "wrong_station"},
    {LossReason::kEchoMismatch, "echo mismatch", "echo_mismatch"},
    {LossReason::kNoise, "noise", "noise"},
    {LossReason::kBadChecksum, "bad checksum", "bad_checksum"},
    {LossReason::kTooEarly, "too early", "too_early"},
    {LossReason::kStandardForm, "standard form", "standard_form"},
    {LossReason::kException, "exception", "exception"},
    {LossReason::kLate, "late", "late"},
    {LossReason::kLineGone, "line gone", "line_gone"},
};
static_assert(sizeof kNames / sizeof kNames[0] == kLossReasonCount, "a name for every reason");

const LossReasonNames* NamesOf(LossReason reason) {
    for (const LossReasonNames& names : kNames)
        if (names.reason == reason)
            return &names;
    return nullptr;
}

}  // namespace

const char* LossReasonLabel(LossReason reason) {
    const LossReasonNames* names = NamesOf(reason);
    return names != nullptr ? names->label : "unknown";
}

const char* LossReasonKey(LossReason reason) {
    const LossReasonNames* names = NamesOf(reason);
    return names != nullptr ? names->key : "unknown";
}
