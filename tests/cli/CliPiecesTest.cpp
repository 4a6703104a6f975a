#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/PortChoice.h"
#include "cli/ReceiverChoice.h"
#include "cli/RememberedChoices.h"
#include "cli/SessionRunner.h"
#include "cli/StatusLine.h"
#include "comm/KPortRegistry.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "support/TempDir.h"

TEST(CommandLine, WholeNumbersOnly) {
    long long v = 0;
    EXPECT_TRUE(ParseInt("115200", 1, 200000, v));
    EXPECT_EQ(v, 115200);
    for (const char* bad : {"", "12abc", "1e5", " 5", "300000", "-1"}) EXPECT_FALSE(ParseInt(bad, 0, 200000, v)) << bad;
}

TEST(ReceiverChoice, ByIdNameOrAnUnambiguousPart) {
    std::string error;
    EXPECT_EQ(ChooseReceiver("5", error), 5);
    EXPECT_EQ(ChooseReceiver("Leica GMX900", error), 5);
    EXPECT_EQ(ChooseReceiver("leica-gmx900", error), 5);
    EXPECT_EQ(ChooseReceiver("gmx900", error), 5);
    EXPECT_EQ(ChooseReceiver("system 500", error), 7);
    EXPECT_EQ(ChooseReceiver("Trimble 47/48/5700", error), 13);
    EXPECT_EQ(ChooseReceiver("trimble", error), 0);
    EXPECT_NE(error.find("Trimble NetR5"), std::string::npos);
    EXPECT_EQ(ChooseReceiver("garmin", error), 0);
    EXPECT_EQ(ChooseReceiver("15", error), 15);
    EXPECT_EQ(ChooseReceiver("u-blox", error), 15);
    EXPECT_EQ(ChooseReceiver("99", error), 0);
    EXPECT_EQ(ChooseReceiver("16", error), 16);
    EXPECT_EQ(ChooseReceiver("quectel", error), 16);
}

// What identify says tells apart the types its answer fits: each kind of difference found within
// the family is given for every type (so they can be compared), nothing for types driven alike.
TEST(ReceiverChoice, TypeDifferenceGivesWhatVariesWithinTheFamily) {
    static constexpr int32_t kFew[] = {4800, 9600};
    const KTypeTimings slow = {.detectPingMs = 5000, .pauseAfterChangeMs = 2000};
    const KTypeTimings slowWhenSlow = {.slowUpToBaud = 4800, .slowPingMs = 3000};
    const struct {
        std::vector<KCatalogueType> types;
        std::vector<std::string> differences;
    } families[] = {
        {{{1, "A"}, {2, "B"}}, {"", ""}},
        {{{1, "A"}, {2, "B", slow}, {3, "C", slowWhenSlow}},
         {"waits 1.0 s for an answer", "waits 5.0 s for an answer, pauses 2.0 s after a rate change",
          "waits 1.0 s for an answer (3.0 s at 4800 baud and below)"}},
        {{{1, "A"}, {2, "B", {}, kFew}}, {"rates 1200 2400 4800 9600 19200 38400 57600 115200", "rates 4800 9600"}},
        // A note shared by all tells nothing apart; an empty one is no difference to name.
        {{{1, "A", {}, kBaudRates, "x"}, {2, "B", {}, kBaudRates, "x"}, {3, "C", {}, kFew, "y"}, {4, "D", {}, kFew}},
         {"x; rates 1200 2400 4800 9600 19200 38400 57600 115200", "x; rates 1200 2400 4800 9600 19200 38400 57600 115200",
          "y; rates 4800 9600", "rates 4800 9600"}},
    };
    for (const auto& row : families) {
        KReceiverFamily family;
        family.types = row.types;
        for (size_t i = 0; i < row.types.size(); ++i)
            EXPECT_EQ(TypeDifference(family, family.types[i]), row.differences[i]) << family.types[i].displayName;
    }
    // The built-in Leica types: two command sets, one slow model.
    const KReceiverFamily& leica = *FamilyOfType(5);
    EXPECT_EQ(TypeDifference(leica, *leica.Type(5)), "CRS1000 commands: the rate change is not acknowledged; waits 5.0 s "
                                                      "for an answer, pauses 2.0 s after a rate change");
    EXPECT_EQ(TypeDifference(leica, *leica.Type(6)), "System 500 commands: the rate change is acknowledged; waits 1.0 s "
                                                      "for an answer");
}

TEST(PortChoice, ComNamesResolveThroughTheRegistryAndPathsAreTakenAsTheyAre) {
    KPortRegistry::PortTable table;
    table[1] = {true, "/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_A1"};
    table[4] = {true, "/dev/ttyUSB1", "/dev/ttyUSB1"};
    KPortRegistry::InstallForTesting(table);
    PortChoice choice;
    std::string error;
    EXPECT_TRUE(ChoosePort("COM2", choice, error));
    EXPECT_EQ(choice.portNumber, 1);
    EXPECT_TRUE(choice.devicePath.empty());
    EXPECT_TRUE(ChoosePort("/dev/serial/by-id/usb-FTDI_A1", choice, error));
    EXPECT_EQ(choice.portNumber, 1);
    EXPECT_TRUE(ChoosePort("com5", choice, error));
    EXPECT_EQ(choice.portNumber, 4);

    EXPECT_FALSE(ChoosePort("COM1", choice, error));
    EXPECT_NE(error.find("not present"), std::string::npos);
    EXPECT_FALSE(ChoosePort("COM25", choice, error));
    EXPECT_NE(error.find("above COM24"), std::string::npos);
    EXPECT_FALSE(ChoosePort("COMx", choice, error));
    EXPECT_FALSE(ChoosePort("/nonexistent/tty", choice, error));
    EXPECT_NE(error.find("no such device"), std::string::npos);

    TempDir dir;
    const std::string device = dir.File("tty");
    std::ofstream(device).put('x');
    EXPECT_TRUE(ChoosePort(device, choice, error));
    EXPECT_EQ(choice.devicePath, device);
    KPortRegistry::Teardown();
}

TEST(StatusLine, ThePagesTexts) {
    EXPECT_EQ(StatusLine::TextFor(0, 9600), "Pinging receiver at 9600 baud");
    EXPECT_EQ(StatusLine::TextFor(1, 115200), "Monitoring receiver at 115200 baud");
    // The detected rate right-aligned in seven characters.
    EXPECT_EQ(StatusLine::TextFor(2, 4800), "Auto-detecting receiver baud:    4800");
    EXPECT_EQ(StatusLine::TextFor(2, 115200), "Auto-detecting receiver baud:  115200");
    EXPECT_EQ(StatusLine::TextFor(7, 1), "Inop");
}

TEST(StatusLine, PlainOutputHasOneLinePerChangeWithItsColour) {
    TempDir dir;
    const std::string path = dir.File("out.txt");
    std::FILE* out = std::fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    {
        StatusLine status(out, false, false);
        status.Report(0, 9600, 0);
        status.Report(1, 9600, 1);
        status.Report(1, 9600, 1);  // unchanged: no new line
        status.Report(2, 1200, 0);
        status.Finish();
    }
    std::fclose(out);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    EXPECT_NE(s.find("red   Pinging receiver at 9600 baud\n"), std::string::npos);
    EXPECT_NE(s.find("green Monitoring receiver at 9600 baud\n"), std::string::npos);
    EXPECT_NE(s.find("red   Auto-detecting receiver baud:    1200\n"), std::string::npos);
    EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 3);
}

TEST(RememberedChoices, RoundTripAndDefaults) {
    TempDir dir;
    const std::string path = dir.File("velinor.ini");
    const RememberedChoices none = RememberedChoices::Load(path);
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.receiverType, 2);
    EXPECT_EQ(none.portNumber, 0);
    EXPECT_EQ(none.baud, 9600);

    RememberedChoices chosen;
    chosen.receiverType = 11;
    chosen.portNumber = 2;
    chosen.baud = 115200;
    chosen.device = "/dev/serial/by-id/usb-FTDI_A1";
    chosen.Save(path);
    const RememberedChoices back = RememberedChoices::Load(path);
    EXPECT_TRUE(back.found);
    EXPECT_EQ(back.receiverType, 11);
    EXPECT_EQ(back.portNumber, 2);
    EXPECT_EQ(back.baud, 115200);
    EXPECT_EQ(back.device, chosen.device);

    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("[BaudSet]"), std::string::npos);
    EXPECT_NE(text.str().find("LastRcvr=11"), std::string::npos);
    EXPECT_NE(text.str().find("LastPort=2"), std::string::npos);
    EXPECT_NE(text.str().find("LastBaud=115200"), std::string::npos);
}

// A session tries the port again at every rate: a failure is said once however often it comes
// back, and a different one is said too.
TEST(OpenFailuresOnConsole, ARecurringFailureIsSaidOnce) {
    ReportOpenFailuresOnConsole();
    ::testing::internal::CaptureStderr();
    for (const char* device : {"/nonexistent/ttyA", "/nonexistent/ttyA", "/nonexistent/ttyA", "/nonexistent/ttyB"}) {
        KSerialComm link;
        link.DevicePath = device;
        EXPECT_FALSE(link.Open(0));
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    KSerialComm::SetOpenFailureHandler(nullptr);
    const auto times = [&](const std::string& line) {
        int count = 0;
        for (size_t at = said.find(line); at != std::string::npos; at = said.find(line, at + 1)) ++count;
        return count;
    };
    EXPECT_EQ(times("velinor: COM Port Busy Or Not Installed: /nonexistent/ttyA"), 1) << said;
    EXPECT_EQ(times("velinor: COM Port Busy Or Not Installed: /nonexistent/ttyB"), 1) << said;
}
