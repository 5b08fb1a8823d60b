// The CPU quota of this process's control group on Linux: how many
// processors' worth of time it may use, whatever its CPU set allows.
#pragma once

#include <filesystem>
#include <optional>

// The quota in processors, cgroup v2's cpu.max or v1's cpu.cfs_quota_us over
// cpu.cfs_period_us: the smallest of this process's group and every group
// above it. Nothing when none is set or nothing can be read: a file that
// cannot be read sets no limit. root is where /proc and the cgroup mounts
// are found ("/"; tests give a folder of their own).
std::optional<double> CgroupCpuQuota(const std::filesystem::path& root = "/");
