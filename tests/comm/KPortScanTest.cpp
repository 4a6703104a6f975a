#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "comm/posix/KPortScan.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A fake /dev and /sys: device nodes are links to /dev/null, which is a character device.
class FakeTree {
public:
    FakeTree() {
        fs::create_directories(Dev());
        fs::create_directories(TtyClass());
    }
    std::string Dev() const { return root.Path() + "/dev"; }
    std::string Sys() const { return root.Path() + "/sys"; }
    fs::path TtyClass() const { return fs::path(Sys()) / "class" / "tty"; }

    // A device node, and its sysfs entry with a UART type when `uartType` >= 0.
    void Device(const std::string& name, int uartType = -2) {
        fs::create_symlink("/dev/null", fs::path(Dev()) / name);
        if (uartType == -2) {
            fs::create_directories(TtyClass() / name);
        } else if (uartType >= 0) {
            fs::create_directories(TtyClass() / name);
            std::ofstream(TtyClass() / name / "type") << uartType << "\n";
        }
    }
    void PlainFile(const std::string& name) {
        std::ofstream(fs::path(Dev()) / name) << "";
        fs::create_directories(TtyClass() / name);
    }
    void ById(const std::string& name, const std::string& target) {
        fs::create_directories(fs::path(Dev()) / "serial" / "by-id");
        fs::create_symlink(target, fs::path(Dev()) / "serial" / "by-id" / name);
    }
    KPortRegistry::PortTable Scan() const {
        KPortRegistry::PortTable ports;
        ports[5] = KPortInfo{true, "stale", "stale"};  // what was there before goes
        KSerialBackend::ScanPortsIn(Dev(), Sys(), ports);
        return ports;
    }

private:
    TempDir root{"velinor-scan"};
};

TEST(PortScan, RealSerialDevicesOnlyInAStableOrder) {
    FakeTree tree;
    tree.Device("ttyS10", 4);
    tree.Device("ttyS0", 4);
    tree.Device("ttyS1", 0);   // no UART behind it
    tree.Device("ttyS2", 16);
    tree.Device("ttyS3", -1);  // no type known at all
    tree.Device("ttyUSB10");
    tree.Device("ttyUSB2");
    tree.Device("ttyACM0");
    tree.Device("tty0");
    tree.Device("ttyprintk");
    tree.Device("ttySx");
    tree.Device("ttyUSB1a");
    tree.Device("console");
    fs::create_directories(fs::path(tree.Dev()) / "pts");
    tree.Device("pts/0");
    tree.PlainFile("ttyUSB7");  // not a character device

    const auto ports = tree.Scan();
    const std::string expected[] = {"ttyS0", "ttyS2", "ttyS10", "ttyUSB2", "ttyUSB10", "ttyACM0"};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_TRUE(ports[i].present) << i;
        EXPECT_EQ(ports[i].device, tree.Dev() + "/" + expected[i]);
        EXPECT_EQ(ports[i].label, ports[i].device);
    }
    for (size_t i = std::size(expected); i < ports.size(); ++i) {
        EXPECT_FALSE(ports[i].present) << i << ": " << ports[i].device;
        EXPECT_TRUE(ports[i].device.empty());
    }
}

TEST(PortScan, StaleUsbNodesAreLeftOutWhenSysfsKnowsBetter) {
    FakeTree tree;
    tree.Device("ttyUSB0");
    tree.Device("ttyUSB1", -1);  // a node without a device behind it
    const auto ports = tree.Scan();
    EXPECT_EQ(ports[0].device, tree.Dev() + "/ttyUSB0");
    EXPECT_FALSE(ports[1].present);
}

TEST(PortScan, WithoutSysfsUsbPortsAreKeptButBareUartsAreNot) {
    FakeTree tree;
    tree.Device("ttyS0", -1);
    tree.Device("ttyUSB0", -1);
    fs::remove_all(tree.Sys());
    const auto ports = tree.Scan();
    EXPECT_EQ(ports[0].device, tree.Dev() + "/ttyUSB0");
    EXPECT_FALSE(ports[1].present);
}

TEST(PortScan, StableByIdNamesBecomeTheLabels) {
    FakeTree tree;
    tree.Device("ttyUSB0");
    tree.Device("ttyUSB1");
    tree.Device("ttyACM0");
    tree.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB1");
    tree.ById("usb-u-blox_AG_GNSS_receiver-if00", "../../ttyACM0");
    tree.ById("usb-z-second-name-if00", "../../ttyACM0");
    tree.ById("usb-elsewhere", "/somewhere/else/ttyUSB0");
    tree.ById("broken", "../../ttyUSB9");
    const auto ports = tree.Scan();
    EXPECT_EQ(ports[0].label, tree.Dev() + "/ttyUSB0");
    EXPECT_EQ(ports[1].device, tree.Dev() + "/ttyUSB1");
    EXPECT_EQ(ports[1].label, tree.Dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(ports[2].label, tree.Dev() + "/serial/by-id/usb-u-blox_AG_GNSS_receiver-if00");
}

TEST(PortScan, MoreDevicesThanSlotsKeepTheFirstTwentyFour) {
    FakeTree tree;
    for (int i = 0; i < 30; ++i) tree.Device("ttyUSB" + std::to_string(i));
    tree.Device("ttyUSB99999999999999999999999");  // too big a number is no port, and no crash
    const auto ports = tree.Scan();
    for (int i = 0; i < KPortRegistry::kPortCount; ++i)
        EXPECT_EQ(ports[static_cast<size_t>(i)].device, tree.Dev() + "/ttyUSB" + std::to_string(i));
}

TEST(PortScan, MissingRootsGiveNoPorts) {
    KPortRegistry::PortTable ports;
    KSerialBackend::ScanPortsIn("/velinor/no/such/dev", "/velinor/no/such/sys", ports);
    for (const KPortInfo& info : ports) EXPECT_FALSE(info.present);
}

TEST(PortScan, TrailingSlashOnTheDeviceRootChangesNothing) {
    FakeTree tree;
    tree.Device("ttyUSB0");
    tree.ById("usb-adapter", "../../ttyUSB0");
    KPortRegistry::PortTable ports;
    KSerialBackend::ScanPortsIn(tree.Dev() + "/", tree.Sys(), ports);
    ASSERT_TRUE(ports[0].present);
    EXPECT_NE(ports[0].label.find("by-id/usb-adapter"), std::string::npos) << ports[0].label;
}

} // namespace
#endif
