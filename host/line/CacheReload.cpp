#include "CacheReload.h"

#include "HistoryStore.h"
#include "MeterRecord.h"
#include "SMDSPDevice.h"

#include <cstdint>

namespace {

// One line for each of the first few stored records the reload passed over.
void NoteSkippedRecords(std::ostream& out, std::uint32_t data_id,
                        const HistoryStore::Refused& skipped) {
    constexpr std::size_t kShown = HistoryStore::Refused::kKept;
    for (std::size_t i = 0; i < skipped.first.size() && i < kShown; ++i) {
        const HistoryRow& row = skipped.first[i];
        const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
        out << "cache: skipped record #" << row.row_id << " stored " << row.stored_at << ": ";
        if (record)
            out << "its own data id is " << record->DataId() << ", not " << data_id;
        else
            out << row.record.size() << " bytes, not a " << MeterRecord::kSize << "-byte record";
        out << '\n';
    }
    if (skipped.count > static_cast<std::int64_t>(kShown))
        out << "cache: skipped " << skipped.count - static_cast<std::int64_t>(kShown)
            << " more records not of data id "
            << data_id << '\n';
}

}  // namespace

std::optional<std::string> CacheReload::Load(SMDSPDevice& device, HistoryStore& history,
                                             std::ostream& out) {
    const std::uint32_t data_id = device.DataId();
    HistoryStore::Refused skipped;
    const std::optional<HistoryRow> newest = history.Newest(
        data_id,
        [data_id](const HistoryRow& row) {
            const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
            return record && record->DataId() == data_id;
        },
        skipped);
    NoteSkippedRecords(out, data_id, skipped);
    if (!newest)
        return std::nullopt;
    const std::string blob(newest->record.begin(), newest->record.end());
    const int accepted = device.LoadFromCache(blob);
    return accepted != 0 ? "newest record from history, stored " + newest->stored_at
                         : "newest record from history refused (" +
                               std::to_string(newest->record.size()) + " bytes)";
}
