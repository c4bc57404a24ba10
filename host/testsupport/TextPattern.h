#pragma once

#include <cctype>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// A tool's printed line against a pattern in which `#` stands for a whole
// number (one or more digits) and `*` for any text, the shortest that lets
// the rest match; everything else stands for itself. What each of them
// matched comes back in order. Enough for the tools' sentences, and far
// cheaper to compile than the standard library's regular expressions.
class TextPattern {
public:
    using Pieces = std::vector<std::string>;

    // The pieces when the whole text matches.
    static std::optional<Pieces> Whole(const std::string& pattern, const std::string& text) {
        Pieces pieces;
        if (!Match(pattern, 0, text, 0, pieces))
            return std::nullopt;
        return pieces;
    }

    // The pieces of the first line of `text` that matches whole.
    static std::optional<Pieces> Line(const std::string& pattern, const std::string& text) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (std::optional<Pieces> pieces = Whole(pattern, line))
                return pieces;
        return std::nullopt;
    }

    // The pieces of the first place in `text` where the pattern matches.
    static std::optional<Pieces> Within(const std::string& pattern, const std::string& text) {
        for (std::size_t from = 0; from <= text.size(); ++from) {
            Pieces pieces;
            if (MatchPrefix(pattern, 0, text, from, pieces))
                return pieces;
        }
        return std::nullopt;
    }

private:
    // Matches pattern[p..] against text[t..] to its end.
    static bool Match(const std::string& pattern, std::size_t p, const std::string& text,
                      std::size_t t, Pieces& pieces) {
        return Step(pattern, p, text, t, pieces, true);
    }

    // Matches pattern[p..] against a beginning of text[t..].
    static bool MatchPrefix(const std::string& pattern, std::size_t p, const std::string& text,
                            std::size_t t, Pieces& pieces) {
        return Step(pattern, p, text, t, pieces, false);
    }

    static bool Step(const std::string& pattern, std::size_t p, const std::string& text,
                     std::size_t t, Pieces& pieces, bool to_end) {
        while (p < pattern.size() && pattern[p] != '#' && pattern[p] != '*') {
            if (t >= text.size() || text[t] != pattern[p])
                return false;
            ++p;
            ++t;
        }
        if (p == pattern.size())
            return !to_end || t == text.size();
        std::size_t end = t;
        if (pattern[p] == '#') {
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
                ++end;
            // Longest first, as a number is read; shorter only if the rest asks.
            for (; end > t; --end) {
                pieces.push_back(text.substr(t, end - t));
                if (Step(pattern, p + 1, text, end, pieces, to_end))
                    return true;
                pieces.resize(pieces.size() - 1);
            }
            return false;
        }
        for (; end <= text.size(); ++end) {
            pieces.push_back(text.substr(t, end - t));
            if (Step(pattern, p + 1, text, end, pieces, to_end))
                return true;
            pieces.resize(pieces.size() - 1);
        }
        return false;
    }
};
