#include "RunOutput.h"

#include <cctype>
#include <sstream>

namespace {

bool IsNumber(const std::string& word) {
    if (word.empty())
        return false;
    for (const char c : word)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// "12:34:56"
bool IsClock(const std::string& word) {
    if (word.size() != 8 || word[2] != ':' || word[5] != ':')
        return false;
    for (const std::size_t at : {0, 1, 3, 4, 6, 7})
        if (!std::isdigit(static_cast<unsigned char>(word[at])))
            return false;
    return true;
}

struct Word {
    std::string text;
    std::size_t end;  // where it ends in the line
};

std::vector<Word> WordsOf(const std::string& line, std::size_t from) {
    std::vector<Word> words;
    std::size_t at = line.find_first_not_of(' ', from);
    while (at != std::string::npos) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        words.push_back({line.substr(at, end - at), end});
        at = line.find_first_not_of(' ', end);
    }
    return words;
}

// A row: the label, two blanks, the clock, the station, the values, the
// two counters, and after two blanks the note. The counters are the first
// two whole numbers after the station that end the row or are followed by
// two blanks; a value is a decimal, "-" or a message.
std::optional<RoundRow> ReadRow(const std::string& line) {
    const std::size_t label_at = line.find_first_not_of(' ');
    if (label_at == std::string::npos)
        return std::nullopt;
    const std::size_t label_end = line.find("  ", label_at);
    if (label_end == std::string::npos)
        return std::nullopt;
    RoundRow row;
    row.label = line.substr(label_at, label_end - label_at);
    if (!row.IsCache() && !IsNumber(row.label))
        return std::nullopt;
    const std::size_t clock_at = label_end + 2;
    if (!IsClock(line.substr(clock_at, 8)))
        return std::nullopt;
    const std::vector<Word> words = WordsOf(line, clock_at + 8);
    if (words.empty() || !IsNumber(words[0].text))
        return std::nullopt;
    for (std::size_t i = 1; i + 1 < words.size(); ++i) {
        const Word& lost = words[i + 1];
        const bool ends = lost.end == line.size() || line.compare(lost.end, 2, "  ") == 0;
        if (!IsNumber(words[i].text) || !IsNumber(lost.text) || !ends)
            continue;
        row.round = row.IsCache() ? 0 : static_cast<std::uint32_t>(std::stoul(row.label));
        row.station = std::stoi(words[0].text);
        for (std::size_t v = 1; v < i; ++v)
            row.values.push_back(words[v].text);
        row.done = std::stoull(words[i].text);
        row.lost = std::stoull(lost.text);
        if (lost.end < line.size())
            row.note = line.substr(lost.end + 2);
        return row;
    }
    return std::nullopt;
}

// Reads the text word by word, as the summary line is put together.
class Cursor {
public:
    explicit Cursor(const std::string& text) : text_(text) {}

    bool Take(const std::string& literal) {
        if (text_.compare(at_, literal.size(), literal) != 0)
            return false;
        at_ += literal.size();
        return true;
    }
    std::optional<std::uint64_t> Number() {
        const std::size_t start = at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
            ++at_;
        if (at_ == start)
            return std::nullopt;
        return std::stoull(text_.substr(start, at_ - start));
    }
    std::string Rest() const { return text_.substr(at_); }
    std::size_t At() const { return at_; }
    void MoveTo(std::size_t at) { at_ = at; }

private:
    const std::string& text_;
    std::size_t at_ = 0;
};

std::optional<RunSummary> ReadSummaryLine(const std::string& line) {
    RunSummary summary;
    for (const char* ending : {"done", "stopped", "failed"})
        if (line.rfind(std::string(ending) + ": ", 0) == 0)
            summary.ending = ending;
    if (summary.ending.empty())
        return std::nullopt;
    Cursor cursor(line);
    cursor.Take(summary.ending + ": ");
    const auto rounds = cursor.Number();
    if (!rounds || !(cursor.Take(" rounds") || cursor.Take(" round")))
        return std::nullopt;
    summary.rounds = *rounds;
    if (cursor.Take(" of ")) {
        const auto meters = cursor.Number();
        if (!meters || !cursor.Take(" meters"))
            return std::nullopt;
        summary.meters = *meters;
    }
    std::optional<std::uint64_t> completed, lost;
    if (!cursor.Take(", ") || !(completed = cursor.Number()) || !cursor.Take(" completed, ") ||
        !(lost = cursor.Number()) || !cursor.Take(" lost"))
        return std::nullopt;
    summary.completed = *completed;
    summary.lost = *lost;
    if (cursor.Take(", round ")) {
        summary.cut_short = cursor.Number();
        if (!summary.cut_short || !cursor.Take(" cut short"))
            return std::nullopt;
    }
    std::optional<std::uint64_t> published, stored;
    if (!cursor.Take("; ") || !(published = cursor.Number()) ||
        !cursor.Take(" records published, ") || !(stored = cursor.Number()) ||
        !cursor.Take(" stored in "))
        return std::nullopt;
    summary.published = *published;
    summary.stored = *stored;
    // The history's path runs to the next part: ", N not stored" or "; ...".
    const std::string rest = cursor.Rest();
    std::size_t end = rest.find("; ");
    for (std::size_t comma = rest.find(", "); comma != std::string::npos && comma < end;
         comma = rest.find(", ", comma + 1)) {
        Cursor part(rest);
        part.MoveTo(comma + 2);
        const auto not_stored = part.Number();
        if (not_stored && part.Take(" not stored")) {
            summary.not_stored = *not_stored;
            end = comma;
            break;
        }
    }
    summary.history = rest.substr(0, end);
    return summary;
}

}  // namespace

std::vector<RoundRow> ReadRoundRows(const std::string& out) {
    std::vector<RoundRow> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (std::optional<RoundRow> row = ReadRow(line))
            rows.push_back(std::move(*row));
    return rows;
}

std::vector<RoundRow> ReadPollRows(const std::string& out) {
    std::vector<RoundRow> rows;
    for (RoundRow& row : ReadRoundRows(out))
        if (!row.IsCache())
            rows.push_back(std::move(row));
    return rows;
}

std::optional<RunSummary> ReadSummary(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (std::optional<RunSummary> summary = ReadSummaryLine(line))
            return summary;
    return std::nullopt;
}

// After the heading come two lines of column headings (stations, data
// ids), then a row per figure: its label (a reason's indented under the
// rounds lost), then one right-aligned cell per column, at least two
// blanks apart from the label. The table ends at the first empty line;
// what is not such a row is passed over.
StatisticsCells ReadStatisticsTable(const std::string& text) {
    StatisticsCells table;
    const std::size_t heading =
        text.rfind("statistics over ", 0) == 0 ? 0 : text.find("\nstatistics over ");
    if (heading == std::string::npos)
        return table;
    std::istringstream lines(text.substr(heading == 0 ? 0 : heading + 1));
    std::string line;
    for (int skipped = 0; skipped < 3 && std::getline(lines, line); ++skipped) {
    }
    while (std::getline(lines, line) && !line.empty()) {
        const std::size_t label_at = line.find_first_not_of(' ');
        const std::size_t label_end =
            label_at == std::string::npos ? std::string::npos : line.find("  ", label_at);
        if (label_end == std::string::npos)
            continue;
        std::vector<std::string>& cells = table[line.substr(label_at, label_end - label_at)];
        for (const Word& word : WordsOf(line, label_end))
            cells.push_back(word.text);
    }
    return table;
}
