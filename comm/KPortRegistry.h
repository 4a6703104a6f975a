#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/KPortAdapter.h"
#include "comm/KPortLock.h"

// One port slot of the registry: COM1..COM24 on Windows; on other systems the serial devices
// found, in a stable order.
struct KPortInfo {
    KPortInfo() = default;
    KPortInfo(bool isPresent, std::string devicePath, std::string labelText, std::string stable = {},
              KPortAdapter hardware = {});

    bool present = false;
    std::string device;  // what Open opens: "\\.\COM3", "/dev/ttyUSB0"
    std::string label;   // what a person recognises: "COM3", "/dev/serial/by-id/usb-FTDI_..."
    // A name that follows the adapter whatever order the ports enumerate in (its
    // /dev/serial/by-id or by-path link); empty when it has none.
    std::string stableName;
    KPortAdapter adapter;

    // What the port is remembered by: its stable name, else its device.
    const std::string& Identity() const { return stableName.empty() ? device : stableName; }
};

// The process-wide port registry: which of the 24 port slots exist (scanned once, at first use,
// without opening any port) and one lock per present port, held by a serial link while open.
class KPortRegistry {
public:
    static constexpr int32_t kPortCount = 24;
    using PortTable = std::array<KPortInfo, kPortCount>;

    static KPortRegistry& Instance();
    static bool Exists();
    // Ends the registry (the application does this once its window has closed).
    static void Teardown();
    // Replaces the registry with one holding `ports` instead of a scan (tests).
    static void InstallForTesting(const PortTable& ports, const std::vector<KPortInfo>& unslotted = {});

    bool IsPresent(int32_t port) const;
    // Waits while another thread holds the port; re-entrant for the holder. Unlocking a port
    // that the calling thread does not hold answers false.
    bool LockPort(int32_t port);
    bool UnlockPort(int32_t port);
    // Locks the port and hands its lock to the caller, who unlocks it through the pointer: the
    // lock stays whole even when the registry ends first. Empty for an absent port.
    std::shared_ptr<KPortLock> HoldPort(int32_t port);

    std::string DevicePath(int32_t port) const;
    std::string Label(int32_t port) const;
    // The whole record of a present port; an empty one for any other.
    KPortInfo Info(int32_t port) const;
    // The slot whose device is `device` (its path, label or stable name), or -1.
    int32_t FindPort(const std::string& device) const;
    // Ports found past the last slot, in scan order: they open only by their path.
    const std::vector<KPortInfo>& Unslotted() const { return unslotted; }

    KPortRegistry(const KPortRegistry&) = delete;
    KPortRegistry& operator=(const KPortRegistry&) = delete;

private:
    KPortRegistry(const PortTable& ports, std::vector<KPortInfo> unslotted);
    PortTable ports;
    std::vector<KPortInfo> unslotted;
    std::array<std::shared_ptr<KPortLock>, kPortCount> locks;  // present ports only
};

namespace KSerialBackend {
// Fills the 24 slots the platform's way (comm/posix, comm/win32) and answers the ports found
// past the last one.
std::vector<KPortInfo> ScanPorts(KPortRegistry::PortTable& ports);
} // namespace KSerialBackend
