// `velinor set` over a pseudo-terminal whose simulated receiver goes away mid-session: the
// program says the device is gone, waits for the same name to come back and resumes there, or
// gives up at its timeout. Real time, with generous bounds.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "sim/KPtySimulator.h"
#include "sim/KSimFactory.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

// The name velinor is given is a symbolic link that the test points at whichever
// pseudo-terminal serves the receiver now, as /dev/serial/by-id names follow an adapter.
class DeviceGoneEndToEnd : public ::testing::Test {
protected:
    // A receiver on a new pseudo-terminal behind the link; a silent one can never be confirmed,
    // so the session is surely still running when it is taken away.
    void Serve(bool silent) {
        KSimDeviceOptions options;
        options.silent = silent;
        std::string error;
        auto device = KSimFactory::CreateDevice(6, 38400, options, error);  // a Leica GPS1200
        ASSERT_NE(device, nullptr) << error;
        simulator = std::make_unique<KPtySimulator>(std::move(device));
        ASSERT_TRUE(simulator->Start(error)) << error;
        const std::string fresh = link + ".new";
        std::filesystem::remove(fresh);
        std::filesystem::create_symlink(simulator->SlavePath(), fresh);
        std::filesystem::rename(fresh, link);
    }

    // Starts `velinor set` on the link and takes the receiver away once velinor has written to it.
    std::future<ProgramRun> RunAndUnplug(const std::string& options) {
        auto run = std::async(std::launch::async, [this, options] {
            return RunVelinor("set --receiver 6 --port " + link + " --baud 9600 " + options, config.Path());
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (simulator->BytesFromHost() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        simulator.reset();
        return run;
    }

    TempDir folder{"velinor-gone"};
    TempDir config;
    const std::string link = folder.File("gnss");
    std::unique_ptr<KPtySimulator> simulator;
};

TEST_F(DeviceGoneEndToEnd, WaitsForTheSameNameAndResumesUntilConfirmed) {
    Serve(true);
    auto run = RunAndUnplug("--last-baud 38400 --until-confirmed --timeout 120");
    // Away long enough for the loss to be seen and waited out; then back under the same name.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Serve(false);
    const ProgramRun result = run.get();
    EXPECT_EQ(result.exitCode, 0) << result.Both();
    // Said once, and nothing else on the error stream: no failed reopen of the vanished device.
    EXPECT_EQ(result.err, "velinor: device gone: " + link + " (unplugged?); waiting for it to come back\nvelinor: " +
                              link + " is back; resuming\n");
    EXPECT_NE(result.out.find("Receiver confirmed at 9600 baud"), std::string::npos) << result.Both();
    EXPECT_EQ(simulator->World().WithDevice([](KSimDevice& d) { return d.Baud(); }), 9600u);
}

TEST_F(DeviceGoneEndToEnd, GivesUpAtTheTimeoutWithThePortErrorCode) {
    Serve(true);
    const auto started = std::chrono::steady_clock::now();
    auto run = RunAndUnplug("--until-confirmed --timeout 4");
    const ProgramRun result = run.get();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(result.exitCode, 3) << result.Both();
    EXPECT_EQ(result.err, "velinor: device gone: " + link + " (unplugged?); waiting for it to come back\nvelinor: " +
                              link + " did not come back before the timeout\n");
    EXPECT_GE(seconds, 4.0);
    EXPECT_LT(seconds, 30.0);
}

} // namespace
#endif
