#include "LineHints.h"

#include "LongestWait.h"

#include <algorithm>

namespace {

// A suggested timeout leaves a quarter to spare over what was measured,
// in steps of 50 ms.
unsigned long SuggestedTimeout(std::chrono::milliseconds measured) {
    constexpr unsigned long kStep = 50;
    const unsigned long wanted = static_cast<unsigned long>(measured.count()) * 5 / 4;
    return std::min((wanted / kStep + 1) * kStep, kLongestWaitMs);
}

}  // namespace

std::optional<std::string> LineHints::Once(const std::string& key, std::string text) {
    if (!said_.insert(key).second)
        return std::nullopt;
    return "hint: " + text;
}

std::optional<std::string> LineHints::AfterLoss(LossReason reason, bool echo_in_answer,
                                                bool checksum_elsewhere) {
    if (echo_in_answer)
        return Once("echo", "the answers begin with the request itself: the adapter echoes what "
                            "is sent; try --echo");
    const bool garbled = reason == LossReason::kBadChecksum || reason == LossReason::kNoise ||
                         reason == LossReason::kShort;
    garbled_ = garbled ? garbled_ + 1 : 0;
    if (reason == LossReason::kBadChecksum && checksum_elsewhere && garbled_ >= kGarbledInARow)
        return Once("checksum", "the answers carry a checksum at another place in the block: "
                                "to hand them to the driver as the controller may, try "
                                "--no-checksum");
    followed_ = reason == LossReason::kTooLong || reason == LossReason::kTooEarly ? followed_ + 1 : 0;
    if (followed_ >= kGarbledInARow)
        return Once("followed", std::to_string(followed_) +
                                    " answers in a row came with another frame right after or "
                                    "before them: a repeater, or a second device answering at this "
                                    "station's address");
    if (garbled_ >= kGarbledInARow)
        return Once("framing", std::to_string(garbled_) +
                                   " answers in a row were garbled: check the line's speed and "
                                   "framing (--baud, --parity, --stop-bits)");
    return std::nullopt;
}

std::optional<std::string> LineHints::AfterLate(std::chrono::milliseconds answer_end) {
    return Once("late", "answers come after the timeout (one ended " +
                            std::to_string(answer_end.count()) + " ms after its request): try --timeout " +
                            std::to_string(SuggestedTimeout(answer_end)));
}

std::optional<std::string> LineHints::WhileWaiting(std::chrono::steady_clock::duration waited) {
    if (quiet_said_ || waited < kQuietWait)
        return std::nullopt;
    quiet_said_ = true;
    return "line not quiet for " +
           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(waited).count()) +
           " s: another device is sending";
}
