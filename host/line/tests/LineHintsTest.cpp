// Which pattern of losses draws which hint, each said once a run.
#include "LineHints.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct Loss {
    LossReason reason;
    bool echo_in_answer = false;
    bool checksum_elsewhere = false;
};

// The hints the losses draw, in order; a completed round is a loss of no reason.
std::vector<std::string> HintsFor(const std::vector<std::optional<Loss>>& rounds) {
    LineHints hints;
    std::vector<std::string> said;
    for (const std::optional<Loss>& round : rounds) {
        if (!round) {
            hints.AfterCompleted();
            continue;
        }
        if (const auto hint = hints.AfterLoss(round->reason, round->echo_in_answer,
                                              round->checksum_elsewhere))
            said.push_back(hint->substr(0, hint->find(':', 6)));
    }
    return said;
}

TEST(LineHintsTest, EachPatternDrawsItsHintOnceAndOnlyWhenItHoldsInARow) {
    const Loss noise{LossReason::kNoise};
    const Loss checksum{LossReason::kBadChecksum};
    const Loss elsewhere{LossReason::kBadChecksum, false, true};
    const Loss echo{LossReason::kBadChecksum, true};
    const Loss copy{LossReason::kTooLong};
    const Loss silent{LossReason::kNoAnswer};
    struct Row {
        const char* what;
        std::vector<std::optional<Loss>> rounds;
        std::vector<std::string> hints;
    };
    const std::vector<Row> rows = {
        {"an echo, at once", {echo}, {"hint: the answers begin with the request itself"}},
        {"an echo, said once", {echo, echo, echo, echo}, {"hint: the answers begin with the request itself"}},
        {"two garbled", {noise, checksum}, {}},
        {"three garbled", {noise, checksum, noise}, {"hint: 3 answers in a row were garbled"}},
        {"broken by a completed round", {noise, checksum, std::nullopt, noise, checksum}, {}},
        {"broken by a silent one", {noise, silent, checksum, noise}, {}},
        {"said once", {noise, noise, noise, noise, noise, noise}, {"hint: 3 answers in a row were garbled"}},
        {"a checksum elsewhere", {elsewhere, elsewhere, elsewhere},
         {"hint: the answers carry a checksum at another place in the block"}},
        {"copies", {copy, copy, copy}, {"hint: 3 answers in a row came with another frame right after or before them"}},
        {"no answers", {silent, silent, silent, silent}, {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(HintsFor(row.rounds), row.hints) << row.what;
}

TEST(LineHintsTest, ALateAnswerSuggestsATimeoutAQuarterOverItAndAQuietLineIsNamedAfterItsWait) {
    LineHints hints;
    EXPECT_EQ(hints.AfterLate(std::chrono::milliseconds(310)),
              "hint: answers come after the timeout (one ended 310 ms after its request): try "
              "--timeout 400");
    EXPECT_EQ(hints.AfterLate(std::chrono::milliseconds(900)), std::nullopt);  // once a run
    const std::string next = LineHints().AfterLate(std::chrono::milliseconds(320)).value();
    EXPECT_EQ(next.substr(next.find("try")), "try --timeout 450");
    // Never beyond the longest wait.
    EXPECT_NE(LineHints().AfterLate(std::chrono::milliseconds(59000)).value().find("--timeout 60000"),
              std::string::npos);

    EXPECT_EQ(hints.WhileWaiting(LineHints::kQuietWait - std::chrono::milliseconds(1)), std::nullopt);
    EXPECT_EQ(hints.WhileWaiting(LineHints::kQuietWait), "line not quiet for 5 s: another device is sending");
    EXPECT_EQ(hints.WhileWaiting(LineHints::kQuietWait * 2), std::nullopt);
    hints.QuietAgain();
    EXPECT_EQ(hints.WhileWaiting(LineHints::kQuietWait * 2), "line not quiet for 10 s: another device is sending");
}

}  // namespace
