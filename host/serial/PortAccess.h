#pragma once

#include <string>

// Why this process may not open a device it was refused ("Permission
// denied"): the group that owns the device, whether the user is in it, and
// what to do. Serial ports belong to a group such as dialout, whose members
// may use them.
namespace PortAccess {

// "it belongs to group dialout (mode crw-rw----) and user ann is not in
// it: sudo usermod -aG dialout ann, then log in again".
std::string DeniedReason(const std::string& path);

}  // namespace PortAccess
