#include "comm/posix/KSysfsAdapter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr size_t kLongestText = 128;  // USB string descriptors hold at most 126 characters

// Terminal control sequences in a descriptor must not reach the user's terminal: C0 controls,
// DEL and the C1 controls (UTF-8 C2 80..C2 9F) become '?'.
std::string Printable(const std::string& raw) {
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c == 0xC2 && i + 1 < raw.size() && static_cast<unsigned char>(raw[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(raw[i + 1]) <= 0x9F) {
            text += '?';
            ++i;
        } else {
            text += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        }
    }
    return text;
}

std::string Attribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    char c = 0;
    while (line.size() < kLongestText && in.get(c) && c != '\n') line += c;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    return Printable(line);
}

std::string DriverOf(const fs::path& device) {
    std::error_code ec;
    const fs::path driver = fs::read_symlink(device / "driver", ec);
    return ec ? std::string() : Printable(driver.filename().string());
}

bool Within(const fs::path& path, const fs::path& root) {
    const auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end() && pathAt != path.end();
}

} // namespace

namespace KSerialBackend {

KPortAdapter ReadAdapterIn(const std::string& sysRoot, const std::string& name) {
    KPortAdapter adapter;
    std::error_code ec;
    const fs::path root = fs::canonical(sysRoot, ec);
    if (ec) return adapter;
    const fs::path device = fs::canonical(root / "class" / "tty" / name / "device", ec);
    if (ec || !Within(device, root)) return adapter;  // virtual terminals and rfcomm have none
    // Newer kernels put the serial core's own port and controller devices (bus serial-base,
    // drivers "port" and "ctrl") between a UART's tty and its hardware: the driver that names the
    // hardware is above them.
    fs::path hardware = device;
    while (fs::read_symlink(hardware / "subsystem", ec).filename() == "serial-base" && !ec &&
           Within(hardware.parent_path(), root))
        hardware = hardware.parent_path();
    adapter.driver = DriverOf(hardware);
    // A usb-serial port sits below its interface and a CDC ACM device is the interface: the USB
    // device is the first folder upwards that has a vendor id (hubs are further up).
    for (fs::path dir = device; Within(dir, root); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        adapter.maker = Attribute(dir / "manufacturer");
        adapter.model = Attribute(dir / "product");
        adapter.serial = Attribute(dir / "serial");
        const std::string vendor = Attribute(dir / "idVendor");
        const std::string product = Attribute(dir / "idProduct");
        if (!vendor.empty() && !product.empty()) adapter.usbId = vendor + ":" + product;
        break;
    }
    return adapter;
}

} // namespace KSerialBackend
