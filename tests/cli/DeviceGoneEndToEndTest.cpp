// `velinor set` over a pseudo-terminal whose simulated receiver goes away mid-session: the
// program says the device is gone, waits for the same name to come back and resumes there, or
// gives up at its timeout. Real time: the receiver comes back once the program has said it is
// waiting, and the bounds are generous.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProgram.h"
#include "support/TempDir.h"
#include "support/UnpluggableReceiver.h"

namespace {

// The name velinor is given follows the receiver's pseudo-terminal, as a by-id name an adapter.
class DeviceGoneEndToEnd : public ::testing::Test {
protected:
    void Serve(bool silent) {
        std::string error;
        ASSERT_TRUE(receiver.Serve(6, 38400, silent, error)) << error;  // a Leica GPS1200
    }

    // Starts `velinor set` on the link and takes the receiver away once velinor has written to it.
    std::unique_ptr<ChildProgram> RunAndUnplug(std::vector<std::string> options) {
        std::vector<std::string> arguments{"set", "--receiver", "6", "--port", link, "--baud", "9600"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        auto set = std::make_unique<ChildProgram>(arguments, config.Path());
        receiver.UnplugOnceWrittenTo(std::chrono::seconds(60));
        return set;
    }

    std::string GoneLine() const {
        return "velinor: device gone: " + link + " (unplugged?); waiting for it to come back\n";
    }

    TempDir folder{"velinor-gone"};
    TempDir config;
    const std::string link = folder.File("gnss");
    UnpluggableReceiver receiver{link};
};

TEST_F(DeviceGoneEndToEnd, WaitsForTheSameNameAndResumesUntilConfirmed) {
    Serve(true);
    auto set = RunAndUnplug({"--last-baud", "38400", "--until-confirmed", "--timeout", "120"});
    // Back under the same name once the loss was seen, however long a busy machine takes to.
    EXPECT_TRUE(set->WaitForError(GoneLine(), 30000)) << set->Output();
    Serve(false);
    EXPECT_EQ(set->Wait(130000), 0) << set->Output();
    // Said once, and nothing else on the error stream: no failed reopen of the vanished device.
    EXPECT_EQ(set->ErrorOutput(), GoneLine() + "velinor: " + link + " is back; resuming\n");
    EXPECT_NE(set->StandardOutput().find("Receiver confirmed at 9600 baud"), std::string::npos) << set->Output();
    EXPECT_EQ(receiver.Simulator()->World().WithDevice([](KSimDevice& d) { return d.Baud(); }), 9600u);
}

// After a replug the detection starts where the receiver last answered, not at the rate the
// run began with: the receiver is back at the wanted rate but misses the first ping (its stop
// commands and that ping go unanswered), so the resumed session detects, and its first try must
// be the rate confirmed before the unplug.
TEST_F(DeviceGoneEndToEnd, ResumesDetectionAtTheRateTheReceiverLastAnsweredAt) {
    Serve(false);  // at 38400
    ChildProgram set({"set", "--receiver", "6", "--port", link, "--baud", "9600", "--last-baud", "19200", "--timeout",
                      "120"},
                     config.Path());
    ASSERT_TRUE(receiver.UnplugOnceAnsweredAt(9600, std::chrono::seconds(60))) << set.Output();
    EXPECT_TRUE(set.WaitForError(GoneLine(), 30000)) << set.Output();
    std::string error;
    ASSERT_TRUE(receiver.Serve(6, 9600, false, error, 3)) << error;
    EXPECT_TRUE(set.WaitForError(link + " is back; resuming", 30000)) << set.Output();
    // Each session starts with "...Starting..."; the resumed one is the second. Its first
    // detection is looked for until the run ends at its timeout, or it is stopped once seen.
    std::string out;
    size_t detecting = std::string::npos;
    for (int waited = 0; waited < 120000 && detecting == std::string::npos && set.Running(); waited += 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        out = set.StandardOutput();
        const size_t resumed = out.find("...Starting...", out.find("...Starting...") + 1);
        if (resumed != std::string::npos) detecting = out.find("Auto-detecting receiver baud:", resumed);
        if (detecting != std::string::npos && out.find('\n', detecting) == std::string::npos) detecting = std::string::npos;
    }
    set.Interrupt(30000);
    ASSERT_NE(detecting, std::string::npos) << set.Output();
    EXPECT_EQ(out.substr(detecting, out.find('\n', detecting) - detecting), "Auto-detecting receiver baud:    9600")
        << set.Output();
}

TEST_F(DeviceGoneEndToEnd, GivesUpAtTheTimeoutWithThePortErrorCode) {
    Serve(true);
    const auto started = std::chrono::steady_clock::now();
    auto set = RunAndUnplug({"--until-confirmed", "--timeout", "4"});
    EXPECT_EQ(set->Wait(60000), 3) << set->Output();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(set->ErrorOutput(), GoneLine() + "velinor: " + link + " did not come back before the timeout\n");
    EXPECT_GE(seconds, 4.0);
    EXPECT_LT(seconds, 30.0);
}

} // namespace
#endif
