#pragma once
#include <string>
#include <vector>

#include "comm/KOpenError.h"
#include "comm/posix/KUucpLock.h"

// Turns a failed open of a serial device into what a person needs to act on it.
namespace KOpenDiagnosis {

struct KDeviceHolder {
    int pid = 0;
    std::string name;  // the program's name, as the process table gives it
    // It holds the master of the pseudo-terminal too: it is the other end (a simulated receiver,
    // say), not a rival for the device.
    bool otherEnd = false;
};

// The processes that have `device` open, by pid, found through `procRoot`/<pid>/fd (Linux's
// /proc). Processes whose descriptors cannot be read (other users') are not found.
std::vector<KDeviceHolder> FindHolders(const std::string& procRoot, const std::string& device);

// The name of process `pid` as the process table gives it.
std::string ProgramName(const std::string& procRoot, int pid);

// The group that grants access to `device` (the device's group when it may read and write,
// else "dialout").
std::string AccessGroup(const std::string& device);

// Fills `error` for a device that could not be opened or claimed, from `err` (an errno value):
// missing devices and things that are not serial devices are NotPresent, everything else Busy;
// both carry the text "COM Port Busy Or Not Installed".
void DescribeOpenFailure(KOpenError& error, const std::string& device, int err,
                         const std::string& procRoot = "/proc");

// Fills `error` (Busy) for a device that `holders` have open, or, when `lockFile` is not empty,
// that they hold the lock file of; the remedy says how to free it from the programs known to
// take serial devices (ModemManager, gpsd, brltty), and to close any other.
void DescribeHeld(KOpenError& error, const std::string& device, const std::vector<KDeviceHolder>& holders,
                  const std::string& lockFile);

// Fills `error` (Busy) for a device whose lock file `lockFile` is not ours to take: a live
// owner (named through `procRoot`), one that cannot be told, or another user's stale lock that
// this user may not remove.
void DescribeLocked(KOpenError& error, const std::string& device, const KLockOwner& owner,
                    const std::string& lockFile, const std::string& procRoot = "/proc");

// Fills `error` for line settings that the device refused (`what` says which).
void DescribeSettingsFailure(KOpenError& error, const std::string& device, int err,
                             const std::string& what);

} // namespace KOpenDiagnosis
