// The port last used is found again by its stable name over scratch /dev and /sys trees whose
// adapters enumerate differently from one run to the next.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/Commands.h"
#include "cli/PortChoice.h"
#include "cli/RememberedChoices.h"
#include "support/FakePortTree.h"
#include "support/ProgramRun.h"

namespace {

// Adapter A on ttyUSB0 and B (with a by-path name too) on ttyUSB1, or the other way round when
// `swapped`; `gone` unplugs one.
void Adapters(FakePortTree& tree, bool swapped, char gone = 0) {
    const std::string a = swapped ? "ttyUSB1" : "ttyUSB0", b = swapped ? "ttyUSB0" : "ttyUSB1";
    tree.ById("usb-A", gone == 'A' ? "" : "../../" + a);
    tree.ById("usb-B", gone == 'B' ? "" : "../../" + b);
    tree.ByPath("pci-B", gone == 'B' ? "" : "../../" + b);
    if (gone) tree.RemoveDevice(gone == 'A' ? a : b);
}

TEST(PortIdentity, TheRememberedPortSurvivesANewEnumerationOrderOrIsRefused) {
    const struct {
        const char* given;       // the first run's --port ("/..." under the tree's /dev)
        const char* remembered;  // what it keeps beside the slot
        bool swapped;            // then the adapters come up the other way round
        char gone;               // or one is unplugged
        int32_t slot;            // the next run without --port opens this; -1: refused
        const char* refusal;     // the reason, after the tree's /dev
    } cases[] = {
        {"COM2", "/serial/by-id/usb-A", true, 0, 2, ""},
        {"/serial/by-id/usb-A", "/serial/by-id/usb-A", true, 0, 2, ""},
        {"/serial/by-path/pci-B", "/serial/by-path/pci-B", true, 0, 1, ""},
        {"/ttyUSB1", "/serial/by-id/usb-B", true, 0, 1, ""},
        {"COM1", "/ttyS0", true, 0, 0, ""},
        {"", "", true, 0, 1, ""},  // settings from before names: the slot as it was
        {"COM2", "/serial/by-id/usb-A", true, 'A', -1,
         "/serial/by-id/usb-A, is not there any more; COM2 is now {}/serial/by-id/usb-B, another device"},
        {"COM3", "/serial/by-id/usb-B", false, 'B', -1, "/serial/by-id/usb-B, is not there any more (plug"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        FakePortTree tree;
        tree.Device("ttyS0", 4);
        tree.Device("ttyUSB0");
        tree.Device("ttyUSB1");
        Adapters(tree, false);
        tree.Install();
        RememberedChoices first;
        first.portNumber = 1;
        PortChoice choice;
        std::string error;
        if (*c.given) {
            ASSERT_TRUE(ChoosePort(c.given[0] == '/' ? tree.Dev() + c.given : c.given, choice, error)) << error;
            first.portNumber = choice.portNumber;
            first.portIdentity = choice.identity;
        }
        EXPECT_EQ(first.portIdentity, *c.remembered ? tree.Dev() + c.remembered : "");
        first.Save(tree.Dev() + "/velinor.ini");

        Adapters(tree, c.swapped, c.gone);
        tree.Install();
        const RememberedChoices back = RememberedChoices::Load(tree.Dev() + "/velinor.ini");
        const bool chosen = ChooseRememberedPort(back.portNumber, back.portIdentity, back.device, choice, error);
        EXPECT_EQ(chosen ? choice.portNumber : -1, c.slot) << error;
        std::string refusal = "the port last used, " + tree.Dev() + c.refusal;
        if (const size_t at = refusal.find("{}"); at != std::string::npos) refusal.replace(at, 2, tree.Dev());
        if (!chosen) {
            EXPECT_NE(error.find(refusal), std::string::npos) << error;
        } else if (*c.given) {
            EXPECT_EQ(choice.identity, first.portIdentity);  // kept for the run after
        }
    }
    KPortRegistry::Teardown();
}

TEST(PortIdentity, PortsPastTheTwentyFourthAreListedAndOpenByPath) {
    FakePortTree tree;
    for (int i = 0; i < 25; ++i) tree.Device("ttyUSB" + std::to_string(i));
    tree.Hardware("ttyUSB0", "1-1", {{"manufacturer", "FTDI"}, {"idVendor", "0403"}}, "ftdi_sio", true);
    tree.ById("usb-last", "../../ttyUSB24");
    tree.Install();
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPorts({}), kExitConfirmed);
    const std::string out = testing::internal::GetCapturedStdout(), dev = tree.Dev();
    EXPECT_NE(out.find("COM1   " + dev + "/ttyUSB0\n       FTDI, driver ftdi_sio\nCOM2   " + dev + "/ttyUSB1\n"
                       "COM3   "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\nCOM24  " + dev + "/ttyUSB23\n-      " + dev + "/ttyUSB24  " + dev +
                       "/serial/by-id/usb-last\n1 port past COM24 (marked -) has no COM number: name one by its "
                       "path, as in --port " + dev + "/ttyUSB24\n"),
              std::string::npos)
        << out;
    PortChoice choice;
    std::string error;
    EXPECT_TRUE(ChoosePort(dev + "/serial/by-id/usb-last", choice, error)) << error;
    EXPECT_EQ(choice.devicePath, dev + "/serial/by-id/usb-last");  // and remembered by that name
    KPortRegistry::Teardown();
}

TEST(PortIdentity, VelinorSetRefusesARememberedAdapterThatIsGoneAndKeepsIt) {
    FakePortTree config;  // for its scratch folder
    std::filesystem::create_directories(config.Dev() + "/velinor");
    RememberedChoices last;
    last.receiverType = 5;
    last.portIdentity = "/dev/serial/by-id/usb-velinor-test-adapter-that-is-not-there";
    last.Save(config.Dev() + "/velinor/velinor.ini");
    const ProgramRun run = RunVelinor("set", config.Dev());
    EXPECT_EQ(run.exitCode, kExitPortError) << run.Both();
    EXPECT_NE(run.err.find("velinor set: the port last used, " + last.portIdentity), std::string::npos) << run.err;
    EXPECT_EQ(RememberedChoices::Load(config.Dev() + "/velinor/velinor.ini").portIdentity, last.portIdentity);
}

} // namespace
#endif
