#pragma once
// A scratch /dev and /sys for the port scan: device nodes are links to /dev/null (a character
// device), sysfs entries are folders and links laid out as the kernel lays them out.
#include <map>
#include <string>

#include "comm/KPortRegistry.h"
#include "support/TempDir.h"

class FakePortTree {
public:
    FakePortTree();
    std::string Dev() const { return root.Path() + "/dev"; }
    std::string Sys() const { return root.Path() + "/sys"; }
    std::string TtyClass() const { return Sys() + "/class/tty"; }

    // A device node and its sysfs class entry: with a UART `type` file when `uartType` >= 0,
    // without any entry when it is -1, a bare folder when -2.
    void Device(const std::string& name, int uartType = -2);
    void RemoveDevice(const std::string& name);
    // A link in /dev/serial/by-id (or another `folder` there) to `target`; replaces any before.
    void Stable(const std::string& name, const std::string& target, const std::string& folder = "by-id");
    void RemoveStable(const std::string& name, const std::string& folder = "by-id");
    // The hardware behind tty `name`, with `driver` bound to it: a USB device (folder
    // `usbDevice` under /sys/devices with `attributes` such as idVendor and product, below a root
    // hub) and its interface, or with an empty `usbDevice` a platform UART. With `portBelow` the
    // tty's device is a port device below that: an adapter's usb-serial port (same driver), or
    // the serial core's port and controller devices of newer kernels (bus serial-base).
    void Hardware(const std::string& name, const std::string& usbDevice,
                  const std::map<std::string, std::string>& attributes, const std::string& driver, bool portBelow);

    // The scan of this tree into a table (filled with junk first: what was there before goes).
    KPortRegistry::PortTable Scan(std::vector<KPortInfo>* unslotted = nullptr) const;
    // The scan installed as the process's registry.
    void Install() const;

private:
    TempDir root{"velinor-ports"};
};
