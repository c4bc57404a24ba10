#include "PortAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// "crw-rw----" from a file's mode.
std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) != 0 ? letters[bit] : '-';
    return text;
}

bool ProcessHasGroup(gid_t group) {
    if (getegid() == group)
        return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && getgroups(count, groups.data()) < 0)
        return false;
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// Whether the group database lists the user in the group (a member added
// since this login is listed but not yet in the process's groups).
bool ListedInGroup(const struct group& group, const std::string& user, gid_t primary) {
    if (group.gr_gid == primary)
        return true;
    for (char** member = group.gr_mem; member != nullptr && *member != nullptr; ++member)
        if (user == *member)
            return true;
    return false;
}

}  // namespace

std::string PortAccess::DeniedReason(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "";
    const struct passwd* account = getpwuid(geteuid());
    const std::string user = account != nullptr ? account->pw_name : std::to_string(geteuid());
    const gid_t primary = account != nullptr ? account->pw_gid : getgid();
    const struct group* group = getgrgid(info.st_gid);
    const std::string group_name =
        group != nullptr ? group->gr_name : "number " + std::to_string(info.st_gid);
    const std::string owned = "it belongs to group " + group_name + " (mode " +
                              ModeText(info.st_mode) + ")";
    if (info.st_uid == geteuid())
        return owned + " and to user " + user + ", who has no read and write permission on it";
    if (ProcessHasGroup(info.st_gid)) {
        if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
            return owned + " and user " + user + " is in it, but the group may not read and "
                                                 "write it";
        return owned + " and user " + user + " is in it";
    }
    if (group != nullptr && ListedInGroup(*group, user, primary))
        return owned + " and user " + user +
               " was added to it after this login: log in again (or run newgrp " + group_name +
               ")";
    return owned + " and user " + user + " is not in it: sudo usermod -aG " + group_name + " " +
           user + ", then log in again";
}
