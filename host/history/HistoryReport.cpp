#include "HistoryReport.h"

#include "LocalZone.h"
#include "MeterRecord.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// Room for one row of either form: a row number, a stored_at text of any
// length aside, the stamp, twelve words and eight signals of at most 64
// characters each, and the words between them.
constexpr std::size_t kRowRoom =
    64 + MeterRecord::kLongestStampText +
    (MeterRecord::kWordCount + MeterRecord::kSignalCount) * 72;

char* WriteLiteral(char* out, const char* text) {
    const std::size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

char* WriteNumber(char* out, long long value) {
    return std::to_chars(out, out + 24, value).ptr;
}

// Raw words are whole numbers stored as floats; anything else is shown as
// the float it is, with six significant digits, as printf's %g.
char* WriteWord(char* out, float word) {
    if (std::floor(word) == word && std::fabs(word) < 1e9f)
        return WriteNumber(out, static_cast<long long>(word));
    return std::to_chars(out, out + 64, word, std::chars_format::general, 6).ptr;
}

// Two decimals, as printf's %.2f. A float has 24 significant bits and 100
// takes 7, so a float times 100 is exact in a double, and rounding it to
// the nearest integer (ties to even) rounds as printf does.
char* WriteSignal(char* out, float value) {
    const double hundredths = static_cast<double>(value) * 100.0;
    if (!(std::fabs(hundredths) < 9e15))
        return std::to_chars(out, out + 64, value, std::chars_format::fixed, 2).ptr;
    const auto whole = static_cast<long long>(std::nearbyint(std::fabs(hundredths)));
    if (std::signbit(value))
        *out++ = '-';
    out = WriteNumber(out, whole / 100);
    *out++ = '.';
    *out++ = static_cast<char>('0' + whole % 100 / 10);
    *out++ = static_cast<char>('0' + whole % 10);
    return out;
}

char* WriteWords(char* out, const MeterRecord& record, char separator) {
    for (int i = 0; i < MeterRecord::kWordCount; ++i) {
        *out++ = separator;
        out = WriteWord(out, record.Word(i));
    }
    return out;
}

// `row` written by `write` into room of its own, then appended to `out`.
template <typename Write>
void Append(std::string& out, const HistoryRow& row, Write write) {
    const std::size_t before = out.size();
    out.resize(before + kRowRoom + row.stored_at.size());
    char* const start = &out[before];
    out.resize(before + static_cast<std::size_t>(write(start) - start));
}

}  // namespace

void HistoryReport::AppendText(std::string& out, const HistoryRow& row) {
    const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
    Append(out, row, [&](char* at) {
        *at++ = '#';
        at = WriteNumber(at, row.row_id);
        at = WriteLiteral(at, "  stored ");
        at = std::copy(row.stored_at.begin(), row.stored_at.end(), at);
        if (!record) {
            at = WriteLiteral(at, "  device ");
            at = WriteNumber(at, row.data_id);
            at = WriteLiteral(at, ": ");
            at = WriteNumber(at, static_cast<long long>(row.record.size()));
            return WriteLiteral(at, " bytes, not a meter record\n");
        }
        at = WriteLiteral(at, "  data id ");
        at = WriteNumber(at, record->DataId());
        at = WriteLiteral(at, "  stamp ");
        at = record->WriteStampText(at);
        at = WriteLiteral(at, "\n    words");
        at = WriteWords(at, *record, ' ');
        at = WriteLiteral(at, "\n   ");
        for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
            *at++ = ' ';
            at = WriteLiteral(at, MeterRecord::SignalKeys()[i]);
            *at++ = ' ';
            at = WriteSignal(at, record->Signal(i));
        }
        *at++ = '\n';
        return at;
    });
}

// Each signal's column names its unit, and the time stored its zone.
std::string HistoryReport::CsvHeader() {
    std::string header = "row,data_id,stamp," + LocalZone::ColumnName("stored_at");
    for (int i = 0; i < MeterRecord::kWordCount; ++i)
        header += ",w" + std::to_string(i);
    for (int i = 0; i < MeterRecord::kSignalCount; ++i)
        header += std::string(",") + MeterRecord::SignalKeys()[i] + '_' + MeterRecord::SignalUnit(i);
    return header + '\n';
}

bool HistoryReport::AppendCsv(std::string& out, const HistoryRow& row) {
    const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
    if (!record)
        return false;
    Append(out, row, [&](char* at) {
        at = WriteNumber(at, row.row_id);
        *at++ = ',';
        at = WriteNumber(at, record->DataId());
        *at++ = ',';
        at = record->WriteStampText(at);
        *at++ = ',';
        at = std::copy(row.stored_at.begin(), row.stored_at.end(), at);
        at = WriteWords(at, *record, ',');
        for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
            *at++ = ',';
            at = WriteSignal(at, record->Signal(i));
        }
        *at++ = '\n';
        return at;
    });
    return true;
}

void HistoryReport::WriteText(std::ostream& out, const std::vector<HistoryRow>& rows) {
    std::string text;
    for (const HistoryRow& row : rows)
        AppendText(text, row);
    out << text;
}

void HistoryReport::WriteCsv(std::ostream& out, const std::vector<HistoryRow>& rows) {
    std::string text = CsvHeader();
    for (const HistoryRow& row : rows)
        AppendCsv(text, row);
    out << text;
}
