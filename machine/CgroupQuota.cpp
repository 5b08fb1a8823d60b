#include "machine/CgroupQuota.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One hierarchy this process is in: where it is mounted and the group's folder in it.
struct Hierarchy {
    bool v2 = false;
    std::string group;      // "/user.slice/job", from /proc/self/cgroup
    std::string mountRoot;  // the part of the hierarchy the mount shows, from mountinfo
    fs::path mountPoint;
};

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) parts.push_back(part);
    return parts;
}

bool HasController(const std::string& list, const std::string& name) {
    const std::vector<std::string> names = Split(list, ',');
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The v2 group ("0::/path") and the v1 group of the cpu controller
// ("4:cpu,cpuacct:/path"); both may be there on a hybrid system.
std::vector<Hierarchy> Groups(const fs::path& root) {
    std::vector<Hierarchy> groups;
    std::ifstream file(root / "proc/self/cgroup");
    std::string line;
    while (std::getline(file, line)) {
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        Hierarchy hierarchy;
        hierarchy.group = line.substr(second + 1);
        hierarchy.v2 = line.compare(0, first, "0") == 0 && controllers.empty();
        if (hierarchy.v2 || HasController(controllers, "cpu")) groups.push_back(hierarchy);
    }
    return groups;
}

// Finds where each hierarchy is mounted: a mountinfo line is "ID PARENT
// MAJ:MIN ROOT MOUNTPOINT OPTIONS [TAGS] - TYPE SOURCE SUPEROPTIONS".
void FindMounts(const fs::path& root, std::vector<Hierarchy>& groups) {
    std::ifstream file(root / "proc/self/mountinfo");
    std::string line;
    while (std::getline(file, line)) {
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        const std::vector<std::string> fields = Split(line.substr(0, dash), ' ');
        const std::vector<std::string> tail = Split(line.substr(dash + 3), ' ');
        if (fields.size() < 5 || tail.size() < 3) continue;
        const bool v2 = tail[0] == "cgroup2";
        if (!v2 && !(tail[0] == "cgroup" && HasController(tail[2], "cpu"))) continue;
        for (Hierarchy& hierarchy : groups) {
            if (hierarchy.v2 != v2 || !hierarchy.mountPoint.empty()) continue;
            hierarchy.mountRoot = fields[3];
            hierarchy.mountPoint = fields[4];
        }
    }
}

std::optional<double> Ratio(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return std::nullopt;
    return double(quota) / double(period);
}

// cpu.max: "max 100000" (no limit) or "150000 100000".
std::optional<double> V2Limit(const fs::path& folder) {
    std::ifstream file(folder / "cpu.max");
    std::string quota;
    long long period = 0;
    if (!(file >> quota >> period) || quota == "max") return std::nullopt;
    try {
        return Ratio(std::stoll(quota), period);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// cpu.cfs_quota_us: -1 (no limit) or the microseconds per cpu.cfs_period_us.
std::optional<double> V1Limit(const fs::path& folder) {
    std::ifstream quotaFile(folder / "cpu.cfs_quota_us");
    std::ifstream periodFile(folder / "cpu.cfs_period_us");
    long long quota = 0;
    long long period = 0;
    if (!(quotaFile >> quota) || !(periodFile >> period)) return std::nullopt;
    return Ratio(quota, period);
}

// The smallest limit of the group's folder and each folder above it up to
// the mount: a parent's quota binds its children too.
std::optional<double> Limit(const fs::path& root, const Hierarchy& hierarchy) {
    if (hierarchy.mountPoint.empty()) return std::nullopt;
    // Inside a cgroup namespace or a container, the mount may show only the
    // group itself: the path is then taken relative to the mount's root.
    std::string inside = hierarchy.group;
    if (hierarchy.mountRoot != "/" && inside.compare(0, hierarchy.mountRoot.size(), hierarchy.mountRoot) == 0) {
        inside = inside.substr(hierarchy.mountRoot.size());
    } else if (hierarchy.mountRoot != "/") {
        inside.clear();
    }
    const fs::path top = root / hierarchy.mountPoint.relative_path();
    std::optional<double> smallest;
    for (;;) {
        const fs::path folder = top / fs::path(inside).relative_path();
        const std::optional<double> limit = hierarchy.v2 ? V2Limit(folder) : V1Limit(folder);
        if (limit && (!smallest || *limit < *smallest)) smallest = limit;
        const size_t slash = inside.rfind('/');
        if (slash == std::string::npos || inside.empty()) break;
        inside.erase(slash);
    }
    return smallest;
}

}  // namespace

std::optional<double> CgroupCpuQuota(const fs::path& root) {
    std::vector<Hierarchy> groups = Groups(root);
    FindMounts(root, groups);
    std::optional<double> smallest;
    for (const Hierarchy& hierarchy : groups) {
        const std::optional<double> limit = Limit(root, hierarchy);
        if (limit && (!smallest || *limit < *smallest)) smallest = limit;
    }
    return smallest;
}
