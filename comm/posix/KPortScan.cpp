#include "comm/posix/KPortScan.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Found {
    int kind;  // index into kPrefixes: the order in which the kinds are listed
    unsigned long number;
    std::string name;
};

constexpr const char* kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};

bool ParseDevice(const std::string& name, Found& found) {
    for (int kind = 0; kind < 3; ++kind) {
        const std::string prefix = kPrefixes[kind];
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const char* first = name.data() + prefix.size();
        const char* last = name.data() + name.size();
        const auto [ptr, ec] = std::from_chars(first, last, found.number);
        if (ec != std::errc() || ptr != last) return false;  // ttyS1a, ttyUSB-x, 99999999999999999999
        found.kind = kind;
        found.name = name;
        return true;
    }
    return false;
}

// The kernel creates ttyS ports whether or not a UART is behind them; the serial core reports
// type 0 (unknown) for an empty one.
bool HasUart(const fs::path& ttyClass, const std::string& name) {
    std::ifstream type(ttyClass / name / "type");
    long value = 0;
    return static_cast<bool>(type >> value) && value != 0;
}

} // namespace

namespace KSerialBackend {

void ScanPortsIn(const std::string& devRoot, const std::string& sysRoot, KPortRegistry::PortTable& ports) {
    for (KPortInfo& info : ports) info = KPortInfo{};

    const fs::path dev(devRoot);
    const fs::path ttyClass = fs::path(sysRoot) / "class" / "tty";
    std::error_code ec;
    // Without sysfs there is nothing to tell a live USB port from a stale node, so all are kept.
    const bool haveSysfs = fs::is_directory(ttyClass, ec);

    std::vector<Found> found;
    fs::directory_iterator entries(dev, ec);
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        Found candidate;
        if (!ParseDevice(entries->path().filename().string(), candidate)) continue;
        std::error_code typeError;
        if (!fs::is_character_file(entries->path(), typeError)) continue;
        if (candidate.kind == 0) {
            if (!HasUart(ttyClass, candidate.name)) continue;
        } else if (haveSysfs && !fs::exists(ttyClass / candidate.name, typeError)) {
            continue;  // a node left behind by an adapter that is gone
        }
        found.push_back(candidate);
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
    });

    // Stable names for USB adapters, so that a person recognises the receiver's cable. udev makes
    // them relative links into /dev; the first by name wins when several name one device.
    std::map<std::string, std::string> byIdFor;  // device name -> by-id path
    const fs::path byIdDir = dev / "serial" / "by-id";
    fs::path devDir = dev.lexically_normal();
    if (!devDir.has_filename()) devDir = devDir.parent_path();  // "/dev/" names the folder too
    std::vector<fs::path> links;
    fs::directory_iterator byId(byIdDir, ec);
    for (; !ec && byId != fs::directory_iterator(); byId.increment(ec)) links.push_back(byId->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(link, linkError);
        if (linkError) continue;
        const fs::path resolved = (target.is_absolute() ? target : byIdDir / target).lexically_normal();
        if (resolved.parent_path() != devDir) continue;
        byIdFor.emplace(resolved.filename().string(), link.string());
    }

    for (size_t i = 0; i < found.size() && i < ports.size(); ++i) {
        KPortInfo& info = ports[i];
        info.present = true;
        info.device = (dev / found[i].name).string();
        const auto label = byIdFor.find(found[i].name);
        info.label = label != byIdFor.end() ? label->second : info.device;
    }
}

void ScanPorts(KPortRegistry::PortTable& ports) { ScanPortsIn("/dev", "/sys", ports); }

} // namespace KSerialBackend
