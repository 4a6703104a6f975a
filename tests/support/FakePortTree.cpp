#ifndef _WIN32
#include "support/FakePortTree.h"

#include <filesystem>
#include <fstream>

#include "comm/posix/KPortScan.h"

namespace fs = std::filesystem;

FakePortTree::FakePortTree() {
    fs::create_directories(Dev());
    fs::create_directories(TtyClass());
}

void FakePortTree::Device(const std::string& name, int uartType) {
    fs::create_directories(fs::path(Dev() + "/" + name).parent_path());
    fs::create_symlink("/dev/null", Dev() + "/" + name);
    if (uartType == -1) return;
    fs::create_directories(TtyClass() + "/" + name);
    if (uartType >= 0) std::ofstream(TtyClass() + "/" + name + "/type") << uartType << "\n";
}

void FakePortTree::RemoveDevice(const std::string& name) {
    fs::remove(Dev() + "/" + name);
    fs::remove_all(TtyClass() + "/" + name);
}

void FakePortTree::Stable(const std::string& name, const std::string& target, const std::string& folder) {
    const fs::path dir = fs::path(Dev()) / "serial" / folder;
    fs::create_directories(dir);
    fs::remove(dir / name);
    fs::create_symlink(target, dir / name);
}

void FakePortTree::RemoveStable(const std::string& name, const std::string& folder) {
    fs::remove(fs::path(Dev()) / "serial" / folder / name);
}

void FakePortTree::Hardware(const std::string& name, const std::string& usbDevice,
                            const std::map<std::string, std::string>& attributes, const std::string& driver,
                            bool portBelow) {
    const fs::path devices = fs::path(Sys()) / "devices";
    const fs::path drivers = fs::path(Sys()) / "bus";
    const auto bind = [&drivers](const fs::path& device, const std::string& bus, const std::string& driverName) {
        fs::create_directories(device);
        fs::create_directories(drivers / bus / "drivers" / driverName);
        fs::create_symlink(drivers / bus / "drivers" / driverName, device / "driver");
        fs::create_symlink(drivers / bus, device / "subsystem");
    };
    fs::path device;
    if (usbDevice.empty()) {
        device = devices / "platform" / (name + "-uart");
        bind(device, "platform", driver);
        if (portBelow) {
            bind(device / "ctrl", "serial-base", "ctrl");
            device = device / "ctrl" / "port";
            bind(device, "serial-base", "port");
        }
    } else {
        const fs::path hub = devices / "pci0000:00" / "usb1";
        fs::create_directories(hub);
        std::ofstream(hub / "idVendor") << "1d6b\n";
        const fs::path usb = hub / usbDevice;
        fs::create_directories(usb);
        for (const auto& [attribute, value] : attributes) std::ofstream(usb / attribute) << value << "\n";
        device = usb / (usbDevice + ":1.0");
        bind(device, "usb", driver);
        if (portBelow) {
            device /= name;
            bind(device, "usb-serial", driver);
        }
    }
    fs::create_directories(TtyClass() + "/" + name);
    fs::create_symlink(device, TtyClass() + "/" + name + "/device");
}

KPortRegistry::PortTable FakePortTree::Scan(std::vector<KPortInfo>* unslotted) const {
    KPortRegistry::PortTable ports;
    ports[5] = KPortInfo{true, "stale", "stale"};
    std::vector<KPortInfo> beyond = KSerialBackend::ScanPortsIn(Dev(), Sys(), ports);
    if (unslotted) *unslotted = std::move(beyond);
    return ports;
}

void FakePortTree::Install() const {
    std::vector<KPortInfo> beyond;
    const KPortRegistry::PortTable ports = Scan(&beyond);
    KPortRegistry::InstallForTesting(ports, beyond);
}
#endif
