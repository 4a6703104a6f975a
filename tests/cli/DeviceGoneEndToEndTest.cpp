// `velinor set` over a pseudo-terminal whose simulated receiver goes away mid-session: the
// program says the device is gone, waits for the same name to come back and resumes there, or
// gives up at its timeout. Real time: the receiver comes back once the program has said it is
// waiting, and the bounds are generous.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
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
    auto run = std::async(std::launch::async, [this] {
        return RunVelinor("set --receiver 6 --port " + link + " --baud 9600 --last-baud 19200 --timeout 25",
                          config.Path());
    });
    const bool answered = receiver.UnplugOnceAnsweredAt(9600, std::chrono::seconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::string error;
    ASSERT_TRUE(receiver.Serve(6, 9600, false, error, 3)) << error;
    const ProgramRun result = run.get();
    ASSERT_TRUE(answered) << result.Both();
    EXPECT_NE(result.err.find(link + " is back; resuming"), std::string::npos) << result.Both();
    // Each session starts with "...Starting..."; the resumed one is the second.
    const size_t resumed = result.out.find("...Starting...", result.out.find("...Starting...") + 1);
    ASSERT_NE(resumed, std::string::npos) << result.Both();
    const size_t detecting = result.out.find("Auto-detecting receiver baud:", resumed);
    ASSERT_NE(detecting, std::string::npos) << result.Both();
    EXPECT_EQ(result.out.substr(detecting, result.out.find('\n', detecting) - detecting),
              "Auto-detecting receiver baud:    9600")
        << result.Both();
    EXPECT_EQ(result.exitCode, 0) << result.Both();
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
