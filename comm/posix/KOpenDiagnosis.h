#pragma once
#include <string>
#include <vector>

#include "comm/KOpenError.h"

// Turns a failed open of a serial device into what a person needs to act on it.
namespace KOpenDiagnosis {

struct KDeviceHolder {
    int pid = 0;
    std::string name;  // the program's name, as the process table gives it
};

// The processes that have `device` open, by pid, found through `procRoot`/<pid>/fd (Linux's
// /proc). Processes whose descriptors cannot be read (other users') are not found.
std::vector<KDeviceHolder> FindHolders(const std::string& procRoot, const std::string& device);

// The group that grants access to `device` (the device's group when it may read and write,
// else "dialout").
std::string AccessGroup(const std::string& device);

// Fills `error` for a device that could not be opened or claimed, from `err` (an errno value):
// missing devices and things that are not serial devices are NotPresent, everything else Busy;
// both carry the text "COM Port Busy Or Not Installed".
void DescribeOpenFailure(KOpenError& error, const std::string& device, int err,
                         const std::string& procRoot = "/proc");

// Fills `error` for line settings that the device refused (`what` says which).
void DescribeSettingsFailure(KOpenError& error, const std::string& device, int err,
                             const std::string& what);

} // namespace KOpenDiagnosis
