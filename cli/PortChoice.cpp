#include "cli/PortChoice.h"

#include <cctype>
#include <filesystem>

#include "cli/CommandLine.h"
#include "comm/KNetworkComm.h"
#include "comm/KPortRegistry.h"

namespace fs = std::filesystem;

namespace {

std::string ComName(int32_t slot) { return "COM" + std::to_string(slot + 1); }

void ChooseSlot(const KPortRegistry& registry, int32_t slot, const std::string& identity, PortChoice& choice) {
    choice.portNumber = slot;
    choice.devicePath.clear();
    choice.display = ComName(slot) + " (" + registry.Label(slot) + ")";
    choice.identity = identity.empty() ? registry.Info(slot).Identity() : identity;
}

// The slot a link (/dev/serial/by-path/..., /dev/gps0) leads to, following it link by link the
// way udev writes them (relative to their folder).
int32_t SlotBehindLinks(const KPortRegistry& registry, const std::string& text) {
    fs::path path(text);
    for (int hop = 0; hop < 8; ++hop) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) return -1;
        path = (target.is_absolute() ? target : path.parent_path() / target).lexically_normal();
        const int32_t slot = registry.FindPort(path.string());
        if (slot >= 0) return slot;
    }
    return -1;
}

// A name udev keeps for one adapter whatever order the adapters enumerate in.
bool IsStableName(const std::string& text) {
    return text.find("/serial/by-id/") != std::string::npos || text.find("/serial/by-path/") != std::string::npos;
}

} // namespace

bool ChoosePort(const std::string& text, PortChoice& choice, std::string& error) {
    if (IsNetworkPortName(text)) {
        KNetworkAddress address;
        if (!ParseNetworkAddress(text, address, error)) return false;
        choice.portNumber = 0;
        choice.devicePath = text;
        choice.display = text;
        choice.identity.clear();
        return true;
    }
    KPortRegistry& registry = KPortRegistry::Instance();
    if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm')) {
        long long n = 0;
        if (!ParseInt(text.substr(3), 1, 1000, n)) {
            error = "'" + text + "' is not a port name like COM3";
            return false;
        }
        if (n > KPortRegistry::kPortCount) {
            error = text + " is above COM24, the last port this tool can use";
            return false;
        }
        if (!registry.IsPresent(static_cast<int32_t>(n - 1))) {
            error = text + " is not present (see 'velinor ports')";
            return false;
        }
        ChooseSlot(registry, static_cast<int32_t>(n - 1), "", choice);
        choice.display = text + " (" + registry.Label(choice.portNumber) + ")";
        return true;
    }
    int32_t slot = registry.FindPort(text);
    if (slot < 0) slot = SlotBehindLinks(registry, text);
    if (slot >= 0) {
        // A stable name the user gives is remembered as given, never as the slot it has today.
        ChooseSlot(registry, slot, IsStableName(text) ? text : "", choice);
        return true;
    }
    std::error_code ec;
    if (!fs::exists(text, ec)) {
        error = text + ": no such device (see 'velinor ports'; is the cable plugged in?)";
        return false;
    }
    choice.portNumber = 0;
    choice.devicePath = text;
    choice.display = text;
    choice.identity.clear();
    return true;
}

bool ChooseRememberedPort(int32_t portNumber, const std::string& identity, const std::string& device,
                          PortChoice& choice, std::string& error) {
    if (identity.empty()) return ChoosePort(device.empty() ? ComName(portNumber) : device, choice, error);
    std::string ignored;
    if (ChoosePort(identity, choice, ignored)) {
        // Past the last slot it still opens by its path, and is remembered by the same name.
        if (!choice.devicePath.empty()) choice.identity = identity;
        return true;
    }
    const KPortRegistry& registry = KPortRegistry::Instance();
    error = "the port last used, " + identity + ", is not there any more";
    if (registry.IsPresent(portNumber))
        error += "; " + ComName(portNumber) + " is now " + registry.Label(portNumber) +
                 ", another device, and is not used unless named";
    error += " (plug the adapter back in, or give --port: see 'velinor ports')";
    return false;
}
