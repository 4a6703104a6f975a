#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "comm/KPortLock.h"

// One port slot of the registry: COM1..COM24 on Windows; on other systems the serial devices
// found, in a stable order.
struct KPortInfo {
    bool present = false;
    std::string device;  // what Open opens: "\\.\COM3", "/dev/ttyUSB0"
    std::string label;   // what a person recognises: "COM3", "/dev/serial/by-id/usb-FTDI_..."
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
    static void InstallForTesting(const PortTable& ports);

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
    // The slot whose device is `device` (its path or label), or -1.
    int32_t FindPort(const std::string& device) const;

    KPortRegistry(const KPortRegistry&) = delete;
    KPortRegistry& operator=(const KPortRegistry&) = delete;

private:
    explicit KPortRegistry(const PortTable& ports);
    PortTable ports;
    std::array<std::shared_ptr<KPortLock>, kPortCount> locks;  // present ports only
};

namespace KSerialBackend {
// Fills the 24 slots the platform's way (comm/posix, comm/win32).
void ScanPorts(KPortRegistry::PortTable& ports);
} // namespace KSerialBackend
