#include "cli/PortChoice.h"

#include <cctype>
#include <filesystem>

#include "cli/CliArgs.h"
#include "comm/KPortRegistry.h"

bool ChoosePort(const std::string& text, PortChoice& choice, std::string& error) {
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
        choice.portNumber = static_cast<int32_t>(n - 1);
        choice.devicePath.clear();
        choice.display = text + " (" + registry.Label(choice.portNumber) + ")";
        return true;
    }
    const int32_t slot = registry.FindPort(text);
    if (slot >= 0) {
        choice.portNumber = slot;
        choice.devicePath.clear();
        choice.display = text;
        return true;
    }
    std::error_code ec;
    if (!std::filesystem::exists(text, ec)) {
        error = text + ": no such device (see 'velinor ports'; is the cable plugged in?)";
        return false;
    }
    choice.portNumber = 0;
    choice.devicePath = text;
    choice.display = text;
    return true;
}
