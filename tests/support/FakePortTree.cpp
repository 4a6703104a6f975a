#ifndef _WIN32
#include "support/FakePortTree.h"

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
    if (uartType != -1) fs::create_directories(TtyClass() / name);
    if (uartType >= 0) std::ofstream(TtyClass() / name / "type") << uartType << "\n";
}

void FakePortTree::RemoveDevice(const std::string& name) {
    fs::remove(Dev() + "/" + name);
    fs::remove_all(TtyClass() / name);
}

void FakePortTree::PlainFile(const std::string& name) {
    std::ofstream(Dev() + "/" + name) << "";
    fs::create_directories(TtyClass() / name);
}

void FakePortTree::ById(const std::string& name, const std::string& target, const char* folder) {
    const fs::path dir = fs::path(Dev()) / "serial" / folder;
    fs::create_directories(dir);
    fs::remove(dir / name);
    if (!target.empty()) fs::create_symlink(target, dir / name);
}

void FakePortTree::Hardware(const std::string& name, const std::string& usbDevice,
                            const std::map<std::string, std::string>& attributes, const std::string& driver,
                            bool portBelow) {
    const fs::path bus = fs::path(Sys()) / "bus";
    const auto bind = [&bus](const fs::path& device, const std::string& subsystem, const std::string& driverName) {
        fs::create_directories(device);
        fs::create_directories(bus / subsystem / "drivers" / driverName);
        fs::create_symlink(bus / subsystem / "drivers" / driverName, device / "driver");
        fs::create_symlink(bus / subsystem, device / "subsystem");
    };
    fs::path device = fs::path(Sys()) / "devices" / "platform" / (name + "-uart");
    if (!usbDevice.empty()) {
        const fs::path hub = fs::path(Sys()) / "devices" / "pci0000:00" / "usb1";
        fs::create_directories(hub / usbDevice);
        std::ofstream(hub / "idVendor") << "1d6b\n";
        for (const auto& [attribute, value] : attributes) std::ofstream(hub / usbDevice / attribute) << value << "\n";
        device = hub / usbDevice / (usbDevice + ":1.0");
    }
    bind(device, usbDevice.empty() ? "platform" : "usb", driver);
    if (portBelow && usbDevice.empty()) {
        bind(device / "ctrl", "serial-base", "ctrl");
        bind(device /= "ctrl/port", "serial-base", "port");
    } else if (portBelow) {
        bind(device /= name, "usb-serial", driver);
    }
    fs::create_directories(TtyClass() / name);
    fs::create_symlink(device, TtyClass() / name / "device");
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
    KPortRegistry::InstallForTesting(Scan(&beyond), beyond);
}
#endif
