#pragma once

#include "LossReason.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>

// One line of advice when a pattern of losses points to a cause, each said
// once a run: "hint: ..." with the option to try.
class LineHints {
public:
    // Garbled answers in a row before the line's speed or framing is suspected.
    static constexpr std::size_t kGarbledInARow = 3;
    // How long a request waits for a quiet line before the host says so.
    static constexpr std::chrono::seconds kQuietWait{5};

    // After each lost exchange: `echo_in_answer` when the answer began with
    // the request's own bytes, `checksum_elsewhere` when a checksum matched
    // at another place in the block.
    std::optional<std::string> AfterLoss(LossReason reason, bool echo_in_answer,
                                          bool checksum_elsewhere);
    void AfterCompleted() { garbled_ = followed_ = 0; }
    // Bytes came after the timeout, the last of them `answer_end` after the
    // request had left.
    std::optional<std::string> AfterLate(std::chrono::milliseconds answer_end);
    // A request has waited `waited` for the line to fall quiet.
    std::optional<std::string> WhileWaiting(std::chrono::steady_clock::duration waited);
    void QuietAgain() { quiet_said_ = false; }

private:
    std::optional<std::string> Once(const std::string& key, std::string text);

    std::set<std::string> said_;
    std::size_t garbled_ = 0;
    std::size_t followed_ = 0;
    bool quiet_said_ = false;
};
