#include <windows.h>

#include <string>

#include "comm/KPortRegistry.h"

namespace KSerialBackend {

// Asks for the attributes of each device without opening it: a port that exists answers with an
// error other than "file not found" (a device has no file attributes to give).
std::vector<KPortInfo> ScanPorts(KPortRegistry::PortTable& ports) {
    for (size_t i = 0; i < ports.size(); ++i) {
        const std::string label = "COM" + std::to_string(i + 1);
        const std::string device = "\\\\.\\" + label;
        KPortInfo& info = ports[i];
        info.device = device;
        info.label = label;
        SetLastError(ERROR_SUCCESS);
        const DWORD attributes = GetFileAttributesA(device.c_str());
        info.present = attributes == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_FILE_NOT_FOUND;
    }
    return {};  // the slots are the COM numbers themselves: none lies beyond them
}

} // namespace KSerialBackend
