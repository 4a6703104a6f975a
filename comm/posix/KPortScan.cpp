#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "comm/KPortRegistry.h"

namespace fs = std::filesystem;

namespace {

struct Found {
    int kind;  // 0 ttyS, 1 ttyUSB, 2 ttyACM: the order in which they are listed
    long number;
    std::string device;
};

// ttyS ports exist in the kernel whether or not a UART is behind them; the serial core reports
// type 0 for an empty one.
bool HasUart(const std::string& name) {
    std::ifstream type("/sys/class/tty/" + name + "/type");
    int value = 0;
    return type >> value && value != 0;
}

} // namespace

namespace KSerialBackend {

void ScanPorts(KPortRegistry::PortTable& ports) {
    std::vector<Found> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        static const char* prefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
        for (int kind = 0; kind < 3; ++kind) {
            const std::string prefix = prefixes[kind];
            if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
            const std::string digits = name.substr(prefix.size());
            if (!std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
            if (kind == 0 && !HasUart(name)) continue;
            found.push_back({kind, std::stol(digits), entry.path().string()});
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
    });

    // Stable names for USB adapters, so a saved choice survives replugging.
    std::vector<std::pair<std::string, std::string>> byId;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", ec)) {
        const fs::path target = fs::canonical(entry.path(), ec);
        if (!ec) byId.emplace_back(target.string(), entry.path().string());
    }

    for (size_t i = 0; i < ports.size(); ++i) ports[i] = KPortInfo{};
    for (size_t i = 0; i < found.size() && i < ports.size(); ++i) {
        ports[i].present = true;
        ports[i].device = found[i].device;
        ports[i].label = found[i].device;
        for (const auto& [target, link] : byId)
            if (target == found[i].device) ports[i].label = link;
    }
}

} // namespace KSerialBackend
