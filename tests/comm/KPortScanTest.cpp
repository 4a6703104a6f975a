#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "comm/posix/KPortScan.h"
#include "comm/posix/KSysfsAdapter.h"
#include "support/FakePortTree.h"

namespace fs = std::filesystem;

namespace {

using FakeTree = FakePortTree;

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
    for (const char* board : {"rfcomm0", "ttymxc1", "ttyTHS2", "ttyAMA10", "ttyAMA0"}) tree.Device(board);
    for (const char* other : {"ttyAMA", "rfcommX", "ttymxc-1"}) tree.Device(other);
    tree.Device("tty0");
    tree.Device("ttyprintk");
    tree.Device("ttySx");
    tree.Device("ttyUSB1a");
    tree.Device("console");
    fs::create_directories(fs::path(tree.Dev()) / "pts");
    tree.Device("pts/0");
    tree.PlainFile("ttyUSB7");  // not a character device

    const auto ports = tree.Scan();
    const std::string expected[] = {"ttyS0",   "ttyS2",    "ttyS10",  "ttyUSB2", "ttyUSB10", "ttyACM0",
                                    "ttyAMA0", "ttyAMA10", "ttyTHS2", "ttymxc1", "rfcomm0"};
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
    tree.ByPath("pci-0000:00:14.0-usb-0:2:1.0-port0", "../../ttyUSB1");  // by-id wins
    tree.ByPath("pci-0000:00:14.0-usb-0:3:1.0-port0", "../../ttyUSB0");
    const auto ports = tree.Scan();
    EXPECT_EQ(ports[0].label, tree.Dev() + "/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0");
    EXPECT_EQ(ports[0].stableName, ports[0].label);
    EXPECT_EQ(ports[1].device, tree.Dev() + "/ttyUSB1");
    EXPECT_EQ(ports[1].label, tree.Dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(ports[2].label, tree.Dev() + "/serial/by-id/usb-u-blox_AG_GNSS_receiver-if00");
}

TEST(PortScan, MoreDevicesThanSlotsKeepTheFirstTwentyFourAndAnswerTheRest) {
    FakeTree tree;
    for (int i = 0; i < 30; ++i) tree.Device("ttyUSB" + std::to_string(i));
    tree.Device("ttyAMA0");
    tree.Device("ttyUSB99999999999999999999999");  // too big a number is no port, and no crash
    std::vector<KPortInfo> unslotted;
    const auto ports = tree.Scan(&unslotted);
    for (int i = 0; i < KPortRegistry::kPortCount; ++i)
        EXPECT_EQ(ports[static_cast<size_t>(i)].device, tree.Dev() + "/ttyUSB" + std::to_string(i));
    ASSERT_EQ(unslotted.size(), 7u);  // ttyUSB24..29, then ttyAMA0
    EXPECT_EQ(unslotted[0].device + unslotted[6].device, tree.Dev() + "/ttyUSB24" + tree.Dev() + "/ttyAMA0");
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

// The hardware behind a port as sysfs describes it, for the layouts the kernel uses.
TEST(PortAdapter, ReadFromSysfs) {
    const struct {
        const char* tty;
        const char* usbDevice;  // "" for a platform UART
        std::map<std::string, std::string> attributes;
        const char* driver;
        bool portBelow;
        const char* expected;
    } cases[] = {
        {"ttyUSB0", "1-1", {{"manufacturer", "FTDI"}, {"product", "FT232R USB UART"}, {"serial", "A50285BI"},
          {"idVendor", "0403"}, {"idProduct", "6001"}}, "ftdi_sio", true,
         "FTDI FT232R USB UART, serial A50285BI, USB 0403:6001, driver ftdi_sio"},
        {"ttyACM0", "1-2", {{"product", "u-blox GNSS receiver"}, {"idVendor", "1546"}, {"idProduct", "01a8"}},
         "cdc_acm", false, "u-blox GNSS receiver, USB 1546:01a8, driver cdc_acm"},
        {"ttyUSB1", "1-3", {{"manufacturer", "Evil\x1b]0;x\x07"}, {"product", "C1\xc2\x9b" "2J"}, {"idVendor", "0"}},
         "pl2303", true, "Evil?]0;x? C1?2J, driver pl2303"},  // no terminal controls from a device
        {"ttyAMA0", "", {}, "uart-pl011", false, "driver uart-pl011"},
        {"ttyS1", "", {}, "serial", true, "driver serial"},  // below the serial core's own port devices
    };
    FakeTree tree;
    for (const auto& c : cases) {
        tree.Hardware(c.tty, c.usbDevice, c.attributes, c.driver, c.portBelow);
        EXPECT_EQ(KSerialBackend::ReadAdapterIn(tree.Sys(), c.tty).Describe(), c.expected) << c.tty;
    }
    tree.Device("rfcomm0");  // nothing behind it
    EXPECT_TRUE(KSerialBackend::ReadAdapterIn(tree.Sys(), "rfcomm0").Empty());
}

} // namespace
#endif
