#include "comm/KPortCheckup.h"

namespace KPortCheckup {

// Windows opens COM ports exclusively and keeps no per-user device rights or lock files: what
// can be told without opening is whether the port is present.
std::vector<KPortFinding> CheckDevice(const std::string& device, const KPortInfo& info, const std::string&) {
    if (!info.present)
        return {{KPortFinding::Problem, "device", device + " is not present",
                 "check that the adapter is plugged in and its driver installed (Device Manager, Ports (COM & "
                 "LPT)); the ports present are listed below"}};
    std::vector<KPortFinding> findings{{KPortFinding::Ok, "device", info.label + " is present (" + info.device + ")", ""}};
    if (!info.adapter.Empty()) findings.push_back({KPortFinding::Ok, "adapter", info.adapter.Describe(), ""});
    return findings;
}

std::vector<KPortFinding> CheckSystem(const std::string&) { return {}; }

} // namespace KPortCheckup
