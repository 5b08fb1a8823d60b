// How the sensors are found on Linux, given the root folder apart so that
// tests describe machines this one is not by fixture trees.
#pragma once

#include <filesystem>

#include "machine/Sensors.h"

// The reader of the sysfs and procfs files under `root` ("/": this
// machine's), for `processors` (empty: every one). `foreign`: the root
// describes another machine, and the sources say so.
std::unique_ptr<SensorReader> OpenSensorReaderAt(const std::filesystem::path& root,
                                                 const std::vector<uint32_t>& processors, bool foreign);
