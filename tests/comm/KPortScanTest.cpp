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

TEST(PortScan, RealSerialDevicesOnlyInAStableOrder) {
    FakePortTree tree;
    tree.Device("ttyS10", 4);
    tree.Device("ttyS0", 4);
    tree.Device("ttyS1", 0);   // no UART behind it
    tree.Device("ttyS2", 16);
    tree.Device("ttyS3", -2);  // no type known at all
    tree.Device("rfcomm0");
    tree.Device("ttymxc1");
    tree.Device("ttyTHS2");
    tree.Device("ttyAMA10");
    tree.Device("ttyAMA0");
    tree.Device("ttyUSB10");
    tree.Device("ttyUSB2");
    tree.Device("ttyACM0");
    for (const char* other : {"tty0", "ttyprintk", "ttySx", "ttyUSB1a", "console", "ttyAMA", "rfcommX", "pts/0"})
        tree.Device(other);
    std::ofstream(tree.Dev() + "/ttyUSB7") << "";  // not a character device
    fs::create_directories(tree.TtyClass() + "/ttyUSB7");

    const auto ports = tree.Scan();
    const std::string expected[] = {"ttyS0",   "ttyS2",   "ttyS10",  "ttyUSB2", "ttyUSB10", "ttyACM0",
                                    "ttyAMA0", "ttyAMA10", "ttyTHS2", "ttymxc1", "rfcomm0"};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_TRUE(ports[i].present) << i;
        EXPECT_EQ(ports[i].device, tree.Dev() + "/" + expected[i]);
        EXPECT_EQ(ports[i].label, ports[i].device);
        EXPECT_TRUE(ports[i].stableName.empty());
    }
    for (size_t i = std::size(expected); i < ports.size(); ++i) {
        EXPECT_FALSE(ports[i].present) << i << ": " << ports[i].device;
        EXPECT_TRUE(ports[i].device.empty());
    }
}

TEST(PortScan, StaleNodesAreLeftOutWhenSysfsKnowsBetterAndKeptWithoutIt) {
    FakePortTree tree;
    tree.Device("ttyS0", -1);
    tree.Device("ttyUSB0");
    tree.Device("ttyUSB1", -1);  // a node without a device behind it
    tree.Device("ttyAMA0", -1);
    auto ports = tree.Scan();
    EXPECT_EQ(ports[0].device, tree.Dev() + "/ttyUSB0");
    EXPECT_FALSE(ports[1].present);

    fs::remove_all(tree.Sys());  // then only bare UARTs are left out
    ports = tree.Scan();
    EXPECT_EQ(ports[0].device, tree.Dev() + "/ttyUSB0");
    EXPECT_EQ(ports[1].device, tree.Dev() + "/ttyUSB1");
    EXPECT_EQ(ports[2].device, tree.Dev() + "/ttyAMA0");
    EXPECT_FALSE(ports[3].present);
}

TEST(PortScan, StableNamesByIdFirstThenByPath) {
    FakePortTree tree;
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyUSB2"}) tree.Device(name);
    tree.Stable("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB1");
    tree.Stable("usb-u-blox_AG_GNSS_receiver-if00", "../../ttyACM0");
    tree.Stable("usb-z-second-name-if00", "../../ttyACM0");
    tree.Stable("usb-elsewhere", "/somewhere/else/ttyUSB0");
    tree.Stable("broken", "../../ttyUSB9");
    tree.Stable("pci-0000:00:14.0-usb-0:2:1.0-port0", "../../ttyUSB1", "by-path");
    tree.Stable("pci-0000:00:14.0-usb-0:3:1.0-port0", "../../ttyUSB2", "by-path");
    const auto ports = tree.Scan();
    const std::string byId = tree.Dev() + "/serial/by-id/";
    const std::string expected[] = {"", byId + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                                    tree.Dev() + "/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0",
                                    byId + "usb-u-blox_AG_GNSS_receiver-if00"};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(ports[i].stableName, expected[i]) << ports[i].device;
        EXPECT_EQ(ports[i].label, expected[i].empty() ? ports[i].device : expected[i]);
    }
}

TEST(PortScan, PortsPastTheLastSlotAreAnsweredInOrder) {
    FakePortTree tree;
    for (int i = 0; i < 28; ++i) tree.Device("ttyUSB" + std::to_string(i));
    tree.Device("ttyAMA0");
    tree.Device("ttyUSB99999999999999999999999");  // too big a number is no port, and no crash
    std::vector<KPortInfo> unslotted;
    const auto ports = tree.Scan(&unslotted);
    for (int i = 0; i < KPortRegistry::kPortCount; ++i)
        EXPECT_EQ(ports[static_cast<size_t>(i)].device, tree.Dev() + "/ttyUSB" + std::to_string(i));
    const std::string beyond[] = {"ttyUSB24", "ttyUSB25", "ttyUSB26", "ttyUSB27", "ttyAMA0"};
    ASSERT_EQ(unslotted.size(), std::size(beyond));
    for (size_t i = 0; i < std::size(beyond); ++i) {
        EXPECT_TRUE(unslotted[i].present);
        EXPECT_EQ(unslotted[i].device, tree.Dev() + "/" + beyond[i]);
    }
}

TEST(PortScan, MissingRootsGiveNoPorts) {
    KPortRegistry::PortTable ports;
    EXPECT_TRUE(KSerialBackend::ScanPortsIn("/velinor/no/such/dev", "/velinor/no/such/sys", ports).empty());
    for (const KPortInfo& info : ports) EXPECT_FALSE(info.present);
}

TEST(PortScan, TrailingSlashOnTheDeviceRootChangesNothing) {
    FakePortTree tree;
    tree.Device("ttyUSB0");
    tree.Stable("usb-adapter", "../../ttyUSB0");
    KPortRegistry::PortTable ports;
    KSerialBackend::ScanPortsIn(tree.Dev() + "/", tree.Sys(), ports);
    ASSERT_TRUE(ports[0].present);
    EXPECT_NE(ports[0].label.find("by-id/usb-adapter"), std::string::npos) << ports[0].label;
}

// The adapter as sysfs describes it, for the ways the kernel lays out serial hardware.
struct AdapterCase {
    const char* what;
    const char* tty;
    const char* usbDevice;  // "" for a platform UART
    std::map<std::string, std::string> attributes;
    const char* driver;
    bool portBelow;
    KPortAdapter expected;
};

TEST(PortAdapter, ReadFromSysfs) {
    const AdapterCase cases[] = {
        {"usb-serial port below its interface", "ttyUSB0", "1-1",
         {{"manufacturer", "FTDI"}, {"product", "FT232R USB UART"}, {"serial", "A50285BI"}, {"idVendor", "0403"},
          {"idProduct", "6001"}},
         "ftdi_sio", true, {"FTDI", "FT232R USB UART", "A50285BI", "0403:6001", "ftdi_sio"}},
        {"CDC ACM interface, no serial number", "ttyACM0", "1-2",
         {{"manufacturer", "u-blox AG - www.u-blox.com"}, {"product", "u-blox GNSS receiver"}, {"idVendor", "1546"},
          {"idProduct", "01a8"}},
         "cdc_acm", false, {"u-blox AG - www.u-blox.com", "u-blox GNSS receiver", "", "1546:01a8", "cdc_acm"}},
        {"control characters from the device", "ttyUSB1", "1-3",
         {{"manufacturer", "Evil\x1b]0;pwned\x07"}, {"product", "C1\xc2\x9b" "2J"}, {"idVendor", "067b"}},
         "pl2303", true, {"Evil?]0;pwned?", "C1?2J", "", "", "pl2303"}},
        {"platform UART", "ttyAMA0", "", {}, "uart-pl011", false, {"", "", "", "", "uart-pl011"}},
        {"UART below the serial core's port devices", "ttyS1", "", {}, "serial", true, {"", "", "", "", "serial"}},
    };
    FakePortTree tree;
    for (const AdapterCase& c : cases) {
        tree.Hardware(c.tty, c.usbDevice, c.attributes, c.driver, c.portBelow);
        const KPortAdapter got = KSerialBackend::ReadAdapterIn(tree.Sys(), c.tty);
        EXPECT_EQ(got.maker, c.expected.maker) << c.what;
        EXPECT_EQ(got.model, c.expected.model) << c.what;
        EXPECT_EQ(got.serial, c.expected.serial) << c.what;
        EXPECT_EQ(got.usbId, c.expected.usbId) << c.what;
        EXPECT_EQ(got.driver, c.expected.driver) << c.what;
    }
    // No device behind the tty at all (rfcomm, virtual terminals), or no such tty.
    tree.Device("rfcomm0");
    EXPECT_TRUE(KSerialBackend::ReadAdapterIn(tree.Sys(), "rfcomm0").Empty());
    EXPECT_TRUE(KSerialBackend::ReadAdapterIn(tree.Sys(), "ttyUSB9").Empty());
}

TEST(PortAdapter, TheScanDescribesEachPortAndTheDescriptionReadsAsOneLine) {
    FakePortTree tree;
    tree.Device("ttyUSB0", -1);
    tree.Hardware("ttyUSB0", "1-1", {{"manufacturer", "Prolific"}, {"idVendor", "067b"}, {"idProduct", "2303"}},
                  "pl2303", true);
    tree.Device("ttyS0", 4);
    const auto ports = tree.Scan();
    EXPECT_TRUE(ports[0].adapter.Empty());  // ttyS0: nothing described
    EXPECT_EQ(ports[1].adapter.Describe(), "Prolific, USB 067b:2303, driver pl2303");
    EXPECT_EQ((KPortAdapter{"", "GNSS", "7", "", ""}.Describe()), "GNSS, serial 7");
}

} // namespace
#endif
