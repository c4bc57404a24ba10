#include "HistoryReport.h"

#include "LocalZone.h"
#include "MeterRecord.h"

#include <cmath>
#include <iomanip>
#include <optional>

namespace {

// Raw words are whole numbers stored as floats; anything else is shown as
// the float it is.
void WriteWord(std::ostream& out, float word) {
    if (std::floor(word) == word && std::fabs(word) < 1e9f)
        out << static_cast<long long>(word);
    else
        out << word;
}

void WriteSignal(std::ostream& out, float value) {
    out << std::fixed << std::setprecision(2) << value << std::defaultfloat;
}

}  // namespace

void HistoryReport::WriteText(std::ostream& out, const std::vector<HistoryRow>& rows) {
    for (const HistoryRow& row : rows) {
        out << '#' << row.row_id << "  stored " << row.stored_at;
        const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
        if (!record) {
            out << "  device " << row.data_id << ": " << row.record.size()
                << " bytes, not a meter record\n";
            continue;
        }
        out << "  data id " << record->DataId() << "  stamp " << record->StampText() << '\n';
        out << "    words";
        for (int i = 0; i < MeterRecord::kWordCount; ++i) {
            out << ' ';
            WriteWord(out, record->Word(i));
        }
        out << "\n   ";
        for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
            out << ' ' << MeterRecord::SignalKeys()[i] << ' ';
            WriteSignal(out, record->Signal(i));
        }
        out << '\n';
    }
}

void HistoryReport::WriteCsv(std::ostream& out, const std::vector<HistoryRow>& rows) {
    // Each signal's column names its unit, and the time stored its zone.
    out << "row,data_id,stamp," << LocalZone::ColumnName("stored_at");
    for (int i = 0; i < MeterRecord::kWordCount; ++i)
        out << ",w" << i;
    for (int i = 0; i < MeterRecord::kSignalCount; ++i)
        out << ',' << MeterRecord::SignalKeys()[i] << '_' << MeterRecord::SignalUnit(i);
    out << '\n';

    for (const HistoryRow& row : rows) {
        const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
        if (!record)
            continue;
        out << row.row_id << ',' << record->DataId() << ',' << record->StampText() << ','
            << row.stored_at;
        for (int i = 0; i < MeterRecord::kWordCount; ++i) {
            out << ',';
            WriteWord(out, record->Word(i));
        }
        for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
            out << ',';
            WriteSignal(out, record->Signal(i));
        }
        out << '\n';
    }
}
