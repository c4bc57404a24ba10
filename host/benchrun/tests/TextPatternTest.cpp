// The patterns the tools' tests match printed sentences with: a pattern
// that matched too much would let a wrong sentence pass.
#include "TextPattern.h"

#include <gtest/gtest.h>

namespace {

TEST(TextPatternTest, NumbersAndTextMatchWhatTheyStandForAndNoMore) {
    struct Row {
        const char* pattern;
        const char* text;
        std::optional<TextPattern::Pieces> whole;
    };
    using P = TextPattern::Pieces;
    const Row rows[] = {
        {"all # were lost\n", "all 12 were lost\n", P{"12"}},
        {"all # were lost\n", "all  were lost\n", std::nullopt},
        {"all # were lost\n", "all 1x were lost\n", std::nullopt},
        {"all # were lost\n", "all 12 were lost", std::nullopt},
        {"all # were lost", "all 12 were lost, and more", std::nullopt},
        {"#.# ms", "0.125 ms", P{"0", "125"}},
        {"# #", "12 3", P{"12", "3"}},
        {"echo * does not match", "echo 01 02 does not match", P{"01 02"}},
        {"a*b*c", "aXbYbc", P{"X", "Yb"}},
        {"*", "", P{""}},
        {"plain", "plain", P{}},
        {"plain", "plane", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TextPattern::Whole(row.pattern, row.text), row.whole)
            << row.pattern << " against " << row.text;
}

TEST(TextPatternTest, WithinAndLineFindTheFirstPlaceThatMatches) {
    const std::string text = "banner 7\nround trip 1.5 ms at connect\nanswer timeout 516 ms\n";
    EXPECT_EQ(TextPattern::Within("trip #.# ms", text), (TextPattern::Pieces{"1", "5"}));
    EXPECT_EQ(TextPattern::Within("timeout # ms", text), TextPattern::Pieces{"516"});
    EXPECT_FALSE(TextPattern::Within("timeout # s", text).has_value());
    EXPECT_EQ(TextPattern::Line("answer *", text), TextPattern::Pieces{"timeout 516 ms"});
    EXPECT_FALSE(TextPattern::Line("timeout *", text).has_value()) << "lines match whole";
}

}  // namespace
