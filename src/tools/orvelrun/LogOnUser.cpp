#include "tools/orvelrun/LogOnUser.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace orvel::tools {

bool IsOperator(uid_t uid, gid_t primaryGroup, std::span<const gid_t> groups,
                std::optional<gid_t> operatorGroup) {
    if (uid == 0) return true;
    if (!operatorGroup) return false;
    return primaryGroup == *operatorGroup ||
           std::find(groups.begin(), groups.end(), *operatorGroup) != groups.end();
}

bool ThisProcessIsOperator() {
    std::optional<gid_t> operatorGroup;
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(kOperatorGroup, &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
        operatorGroup = found->gr_gid;
    }
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0 && getgroups(count, groups.data()) < 0) groups.clear();
    return IsOperator(geteuid(), getegid(), groups, operatorGroup);
}

}  // namespace orvel::tools
