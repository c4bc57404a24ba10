#pragma once

#include <optional>
#include <ostream>
#include <string>

class HistoryStore;
class SMDSPDevice;

// After a restart the controller hands the device its newest stored record,
// which completes a round on it like a fresh answer would. Only a record
// of this device goes back: one that carries another data id would rewrite
// the device's data id, and be stored again under it, at every restart.
namespace CacheReload {

// Hands `device` its newest record of its own data id from `history`,
// with a line on `out` for each of the first few newer ones passed over.
// The live table's note for the record handed back; none when there was none.
std::optional<std::string> Load(SMDSPDevice& device, HistoryStore& history, std::ostream& out);

}  // namespace CacheReload
