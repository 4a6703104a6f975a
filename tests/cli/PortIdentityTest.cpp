// The port last used is found again by its stable name over scratch /dev and /sys trees whose
// adapters enumerate differently from one run to the next.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "cli/RememberedChoices.h"
#include "support/FakePortTree.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

// COM1 an on-board UART, COM2 adapter A, COM3 adapter B (which also has a by-path name).
void Plugged(FakePortTree& tree) {
    tree.Device("ttyS0", 4);
    tree.Device("ttyUSB0");
    tree.Device("ttyUSB1");
    tree.Stable("usb-A", "../../ttyUSB0");
    tree.Stable("usb-B", "../../ttyUSB1");
    tree.Stable("pci-B", "../../ttyUSB1", "by-path");
}

// The adapters come up the other way round.
void Swapped(FakePortTree& tree) {
    tree.Stable("usb-A", "../../ttyUSB1");
    tree.Stable("usb-B", "../../ttyUSB0");
    tree.Stable("pci-B", "../../ttyUSB0", "by-path");
}

// A is gone; B enumerates as ttyUSB0 and so takes COM2.
void UnpluggedA(FakePortTree& tree) {
    tree.RemoveStable("usb-A");
    tree.RemoveDevice("ttyUSB1");
    Swapped(tree);
    tree.RemoveStable("usb-A");
}

struct Scenario {
    const char* what;
    const char* given;  // the --port of the first run, under the tree's /dev; nullptr: only LastPort=1 known
    const char* remembered;  // what the first run keeps beside the slot
    std::function<void(FakePortTree&)> change;
    int32_t slot;          // where the next run without --port opens; -1: refused
    const char* refusal;   // in the reason, with the tree's /dev for %
};

TEST(PortIdentity, TheRememberedPortSurvivesANewEnumerationOrderOrIsRefused) {
    const Scenario scenarios[] = {
        {"slot by COM name", "COM2", "/serial/by-id/usb-A", Swapped, 2, ""},
        {"by-id name as given", "/serial/by-id/usb-A", "/serial/by-id/usb-A", Swapped, 2, ""},
        {"by-path name as given", "/serial/by-path/pci-B", "/serial/by-path/pci-B", Swapped, 1, ""},
        {"device path of an adapter", "/ttyUSB1", "/serial/by-id/usb-B", Swapped, 1, ""},
        {"on-board UART has no stable name", "COM1", "/ttyS0", Swapped, 0, ""},
        {"adapter gone, its slot now another", "COM2", "/serial/by-id/usb-A", UnpluggedA, -1,
         "the port last used, %/serial/by-id/usb-A, is not there any more; COM2 is now %/serial/by-id/usb-B, "
         "another device, and is not used unless named"},
        {"adapter gone, its slot empty", "COM3", "/serial/by-id/usb-B",
         [](FakePortTree& tree) {
             tree.RemoveDevice("ttyUSB1");
             tree.RemoveStable("usb-B");
         },
         -1, "the port last used, %/serial/by-id/usb-B, is not there any more (plug"},
        {"settings from before names", nullptr, "", Swapped, 1, ""},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        FakePortTree tree;
        const auto inDev = [&tree](std::string text) {
            for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1))
                text.replace(at, 1, tree.Dev());
            return text;
        };
        Plugged(tree);
        tree.Install();
        TempDir config;
        const std::string settings = config.File("velinor.ini");
        RememberedChoices first;
        first.portNumber = 1;
        if (s.given) {
            const std::string given = s.given[0] == '/' ? tree.Dev() + s.given : s.given;
            PortChoice choice;
            std::string error;
            ASSERT_TRUE(ChoosePort(given, choice, error)) << error;
            first.portNumber = choice.portNumber;
            first.device = choice.devicePath;
            first.portIdentity = choice.identity;
        }
        EXPECT_EQ(first.portIdentity, *s.remembered ? tree.Dev() + s.remembered : "");
        first.Save(settings);

        s.change(tree);
        tree.Install();
        const RememberedChoices back = RememberedChoices::Load(settings);
        PortChoice next;
        std::string error;
        const bool chosen = ChooseRememberedPort(back.portNumber, back.portIdentity, back.device, next, error);
        EXPECT_EQ(chosen, s.slot >= 0) << error;
        if (chosen) {
            EXPECT_EQ(next.portNumber, s.slot);
            EXPECT_TRUE(next.devicePath.empty());
            EXPECT_EQ(next.identity, first.portIdentity.empty() ? KPortRegistry::Instance().Info(s.slot).Identity()
                                                                 : first.portIdentity);
        } else {
            EXPECT_NE(error.find(inDev(s.refusal)), std::string::npos) << error;
        }
    }
    KPortRegistry::Teardown();
}

TEST(PortIdentity, PortsPastTheTwentyFourthAreListedAndOpenByPath) {
    FakePortTree tree;
    for (int i = 0; i < 25; ++i) tree.Device("ttyUSB" + std::to_string(i));
    tree.Hardware("ttyUSB0", "1-1",
                  {{"manufacturer", "FTDI"}, {"product", "FT232R"}, {"idVendor", "0403"}, {"idProduct", "6001"}},
                  "ftdi_sio", true);
    tree.Stable("usb-FTDI_FT232R-if00-port0", "../../ttyUSB0");
    tree.Stable("usb-last", "../../ttyUSB24");
    tree.Install();

    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPorts({}), kExitConfirmed);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string dev = tree.Dev();
    for (const std::string& line :
         {"COM1   " + dev + "/ttyUSB0  " + dev + "/serial/by-id/usb-FTDI_FT232R-if00-port0\n"
          "       FTDI FT232R, USB 0403:6001, driver ftdi_sio\nCOM2   " + dev + "/ttyUSB1\n",
          "COM24  " + dev + "/ttyUSB23\n-      " + dev + "/ttyUSB24  " + dev + "/serial/by-id/usb-last\n",
          "1 port past COM24 (marked -) has no COM number: name one by its path, as in --port " + dev +
              "/ttyUSB24\n"})
        EXPECT_NE(out.find(line), std::string::npos) << out;

    // By its device or its stable name, it opens by path and is remembered by that path.
    for (const std::string& given : {dev + "/ttyUSB24", dev + "/serial/by-id/usb-last"}) {
        PortChoice choice;
        std::string error;
        ASSERT_TRUE(ChoosePort(given, choice, error)) << error;
        EXPECT_EQ(choice.devicePath, given);
        EXPECT_TRUE(choice.identity.empty());
    }
    KPortRegistry::Teardown();
}

TEST(PortIdentity, VelinorSetRefusesARememberedAdapterThatIsGone) {
    TempDir config;
    std::filesystem::create_directories(config.Path() + "/velinor");
    RememberedChoices last;
    last.receiverType = 5;
    last.baud = 115200;
    last.portIdentity = "/dev/serial/by-id/usb-velinor-test-adapter-that-is-not-there";
    last.Save(config.Path() + "/velinor/velinor.ini");
    const ProgramRun run = RunVelinor("set", config.Path());
    EXPECT_EQ(run.exitCode, kExitPortError) << run.Both();
    EXPECT_NE(run.err.find("velinor set: the port last used, " + last.portIdentity + ", is not there any more"),
              std::string::npos)
        << run.Both();
    EXPECT_EQ(RememberedChoices::Load(config.Path() + "/velinor/velinor.ini").portIdentity, last.portIdentity)
        << "a refused run keeps what was remembered";
}

} // namespace
#endif
