#pragma once

#include <string>

// The time zone this machine's local times are in, as a reader of them
// needs it: its name ("Europe/Berlin") from TZ or /etc/localtime, else
// its offset from UTC now ("UTC+01:00").
namespace LocalZone {

std::string Name();
// "stored_at_Europe/Berlin": a column of local times, named with their zone.
std::string ColumnName(const std::string& column);

}  // namespace LocalZone
