// The CPU quota of a control group, from fixture trees of cgroup v1 and v2
// files under a root of the test's own.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "machine/CgroupQuota.h"
#include "tests/support/TestFiles.h"

namespace {

const std::string kCgroupV2 = "0::/job/step\n";
const std::string kMountV2 = "30 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
const std::string kCgroupV1 = "5:cpu,cpuacct:/job/step\n4:memory:/job/step\n";
const std::string kMountV1 = "31 25 0:27 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n";

// A file under the fake root; a value of "<dir>" makes a folder there, which cannot be read as a file.
void Put(const TempFolder& root, const std::string& name, const std::string& text) {
    const std::filesystem::path file = root.Path(name);
    std::filesystem::create_directories(file.parent_path());
    if (text == "<dir>") {
        std::filesystem::create_directories(file);
    } else {
        WriteBytes(file, text);
    }
}

}  // namespace

TEST(CgroupQuota, ReadsV1AndV2AndTheSmallestLimitAboveTheGroup) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> files;
        std::optional<double> quota;
    };
    const std::vector<Case> cases = {
        {"v2 quota", {{"proc/self/cgroup", kCgroupV2}, {"proc/self/mountinfo", kMountV2},
                      {"sys/fs/cgroup/job/step/cpu.max", "250000 100000\n"}}, 2.5},
        {"v2 max", {{"proc/self/cgroup", kCgroupV2}, {"proc/self/mountinfo", kMountV2},
                    {"sys/fs/cgroup/job/step/cpu.max", "max 100000\n"}}, std::nullopt},
        {"v2 parent's quota binds the child", {{"proc/self/cgroup", kCgroupV2}, {"proc/self/mountinfo", kMountV2},
                                               {"sys/fs/cgroup/job/step/cpu.max", "max 100000\n"},
                                               {"sys/fs/cgroup/job/cpu.max", "100000 100000\n"},
                                               {"sys/fs/cgroup/cpu.max", "400000 100000\n"}}, 1.0},
        {"v1 quota", {{"proc/self/cgroup", kCgroupV1}, {"proc/self/mountinfo", kMountV1},
                      {"sys/fs/cgroup/cpu,cpuacct/job/step/cpu.cfs_quota_us", "150000\n"},
                      {"sys/fs/cgroup/cpu,cpuacct/job/step/cpu.cfs_period_us", "100000\n"}}, 1.5},
        {"v1 no limit", {{"proc/self/cgroup", kCgroupV1}, {"proc/self/mountinfo", kMountV1},
                         {"sys/fs/cgroup/cpu,cpuacct/job/step/cpu.cfs_quota_us", "-1\n"},
                         {"sys/fs/cgroup/cpu,cpuacct/job/step/cpu.cfs_period_us", "100000\n"}}, std::nullopt},
        {"container: the mount shows the group itself",
         {{"proc/self/cgroup", "0::/docker/abc\n"},
          {"proc/self/mountinfo", "30 25 0:26 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup2 rw\n"},
          {"sys/fs/cgroup/cpu.max", "50000 100000\n"}}, 0.5},
        {"no cgroup files", {}, std::nullopt},
        {"unreadable quota", {{"proc/self/cgroup", kCgroupV2}, {"proc/self/mountinfo", kMountV2},
                              {"sys/fs/cgroup/job/step/cpu.max", "<dir>"}}, std::nullopt},
        {"garbage", {{"proc/self/cgroup", kCgroupV2}, {"proc/self/mountinfo", kMountV2},
                     {"sys/fs/cgroup/job/step/cpu.max", "lots 100000\n"}}, std::nullopt},
    };
    for (const Case& c : cases) {
        TempFolder root;
        for (const auto& [name, text] : c.files) Put(root, name, text);
        EXPECT_EQ(CgroupCpuQuota(root.folder), c.quota) << c.name;
    }
}
