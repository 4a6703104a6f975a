#include "comm/posix/KPortScan.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "comm/posix/KSysfsAdapter.h"

namespace fs = std::filesystem;

namespace {

struct Found {
    size_t kind;  // index into kPrefixes: the order in which the kinds are listed
    unsigned long number;
    std::string name;
};

// On-board UARTs first, then USB adapters, then the boards' own UARTs (Raspberry Pi PL011,
// Jetson, i.MX) and Bluetooth serial links: kinds added later go last so existing slots keep
// their numbers.
constexpr const char* kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "ttyTHS", "ttymxc", "rfcomm"};

bool ParseDevice(const std::string& name, Found& found) {
    for (size_t kind = 0; kind < std::size(kPrefixes); ++kind) {
        const std::string prefix = kPrefixes[kind];
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const char* first = name.data() + prefix.size();
        const char* last = name.data() + name.size();
        const auto [ptr, ec] = std::from_chars(first, last, found.number);
        if (ec != std::errc() || ptr != last) continue;  // ttyS1a, ttyUSB-x, 99999999999999999999
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

// udev's stable names for adapters in `linkDir` (relative links into /dev): device name -> link.
// The first by name wins when several name one device; names already known are kept.
void AddStableNames(const fs::path& linkDir, const fs::path& devDir, std::map<std::string, std::string>& names) {
    std::error_code ec;
    std::vector<fs::path> links;
    fs::directory_iterator entries(linkDir, ec);
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) links.push_back(entries->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(link, linkError);
        if (linkError) continue;
        const fs::path resolved = (target.is_absolute() ? target : linkDir / target).lexically_normal();
        if (resolved.parent_path() != devDir) continue;
        names.emplace(resolved.filename().string(), link.string());
    }
}

} // namespace

namespace KSerialBackend {

std::vector<KPortInfo> ScanPortsIn(const std::string& devRoot, const std::string& sysRoot,
                                   KPortRegistry::PortTable& ports) {
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

    // Stable names, so that a person recognises the receiver's cable and a remembered port is
    // found again whatever order the adapters enumerate in: by-id first, by-path where it has none.
    std::map<std::string, std::string> stableFor;
    fs::path devDir = dev.lexically_normal();
    if (!devDir.has_filename()) devDir = devDir.parent_path();  // "/dev/" names the folder too
    AddStableNames(dev / "serial" / "by-id", devDir, stableFor);
    AddStableNames(dev / "serial" / "by-path", devDir, stableFor);

    std::vector<KPortInfo> unslotted;
    for (size_t i = 0; i < found.size(); ++i) {
        KPortInfo info;
        info.present = true;
        info.device = (dev / found[i].name).string();
        const auto stable = stableFor.find(found[i].name);
        if (stable != stableFor.end()) info.stableName = stable->second;
        info.label = info.stableName.empty() ? info.device : info.stableName;
        if (haveSysfs) info.adapter = ReadAdapterIn(sysRoot, found[i].name);
        if (i < ports.size()) ports[i] = std::move(info);
        else unslotted.push_back(std::move(info));
    }
    return unslotted;
}

std::vector<KPortInfo> ScanPorts(KPortRegistry::PortTable& ports) { return ScanPortsIn("/dev", "/sys", ports); }

} // namespace KSerialBackend
