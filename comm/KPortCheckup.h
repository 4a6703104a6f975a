#pragma once
#include <string>
#include <vector>

#include "comm/KPortRegistry.h"

// One thing that stands, or does not, between the user and the receiver on a port, with what to
// do about it.
struct KPortFinding {
    enum Status { Ok, Note, Problem };
    Status status = Ok;
    std::string check;    // a fixed word per kind of check: "device", "permission", "holders", ...
    std::string message;  // what was found, in words
    std::string remedy;   // what to do; empty when nothing is to be done
};

// The checks of `velinor doctor` that need no port to be opened, the platform's way
// (comm/posix, comm/win32).
namespace KPortCheckup {

// The device itself: that it exists and is a serial device, that this user may read and write
// it, that no other program holds it open or locked, the adapter behind it and the stable name
// to use for it. `info` is the registry's record of the port (empty for a device named by path
// outside the slots); `procRoot` is the process table (tests use fake ones).
std::vector<KPortFinding> CheckDevice(const std::string& device, const KPortInfo& info,
                                      const std::string& procRoot = "/proc");

// Programs that take or probe serial devices as they appear (modem managers, braille display
// daemons), running or not.
std::vector<KPortFinding> CheckSystem(const std::string& procRoot = "/proc");

} // namespace KPortCheckup
