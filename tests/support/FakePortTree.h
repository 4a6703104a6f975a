#pragma once
// A scratch /dev and /sys laid out as udev and the kernel lay them out, for the port scan. Device
// nodes are links to /dev/null, a character device.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "comm/KPortRegistry.h"
#include "support/TempDir.h"

class FakePortTree {
public:
    FakePortTree();
    std::string Dev() const { return root.Path() + "/dev"; }
    std::string Sys() const { return root.Path() + "/sys"; }
    std::filesystem::path TtyClass() const { return std::filesystem::path(Sys()) / "class" / "tty"; }

    // A node with a bare sysfs entry (-2), none (-1) or one with this UART type.
    void Device(const std::string& name, int uartType = -2);
    void RemoveDevice(const std::string& name);
    void PlainFile(const std::string& name);
    // A stable name for `target` in /dev/serial/by-id (or `folder`), replacing any; "" removes it.
    void ById(const std::string& name, const std::string& target, const char* folder = "by-id");
    void ByPath(const std::string& name, const std::string& target) { ById(name, target, "by-path"); }
    // Hardware behind tty `name`, bound to `driver`: USB device `usbDevice` (below a root hub, with
    // `attributes`) and its interface, else a platform UART. `portBelow` puts the tty's device
    // under that: a usb-serial port, or the serial core's controller and port (newer kernels).
    void Hardware(const std::string& name, const std::string& usbDevice,
                  const std::map<std::string, std::string>& attributes, const std::string& driver, bool portBelow);

    // The scan, into a table holding junk first; Install makes it the process's registry.
    KPortRegistry::PortTable Scan(std::vector<KPortInfo>* unslotted = nullptr) const;
    void Install() const;

private:
    TempDir root{"velinor-ports"};
};
