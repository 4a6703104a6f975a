#ifndef _WIN32
// The u-blox receiver, with its reader thread, over the real serial link and a pseudo-terminal
// to the simulated receiver, through the rates above 115200: termios, the terminal's rate as
// the simulator reads it back, and the line model must all carry them. Real time, generous
// bounds: every wait ends as soon as its answer is there.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "comm/KSerialComm.h"
#include "receivers/KUbloxReceiver.h"
#include "sim/KPtySimulator.h"
#include "sim/KUbloxDevice.h"

namespace {

template <typename Done>
bool WaitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

TEST(UbloxOverPseudoTerminal, TheRatesAbove115200WorkEndToEnd) {
    KPtySimulator sim(std::make_unique<KUbloxDevice>(115200, 9, 2));
    std::string error;
    if (!sim.Start(error)) GTEST_SKIP() << "no pseudo-terminal here: " << error;
    KSerialComm link;
    link.DevicePath = sim.SlavePath();
    KUbloxReceiver receiver(true);
    auto openAt = [&](int32_t baud) {
        receiver.Detach();
        link.Close();
        link.BaudRate = static_cast<uint32_t>(baud);
        ASSERT_TRUE(link.Open(0)) << link.LastOpenError().text << " " << link.LastOpenError().reason;
        // The simulator reads the terminal's rate back: the rate must be one it can tell.
        ASSERT_TRUE(WaitFor([&] { return sim.HostBaud() == static_cast<uint32_t>(baud); })) << sim.HostBaud();
        receiver.Attach(&link, "Trevask");
    };
    int32_t rate = 115200;
    openAt(rate);
    ASSERT_TRUE(receiver.Ping(5000));
    for (int32_t next : {921600, 230400, 460800}) {
        SCOPED_TRACE(std::to_string(rate) + " to " + std::to_string(next));
        ASSERT_TRUE(receiver.ChangeBaud(next));
        ASSERT_TRUE(WaitFor([&] { return sim.World().WithDevice([](KSimDevice& d) { return d.Baud(); }) == static_cast<uint32_t>(next); }));
        openAt(next);
        ASSERT_TRUE(receiver.Ping(5000));
        rate = next;
    }
    receiver.Detach();
    link.Close();
    sim.Stop();
    EXPECT_EQ(sim.World().WithDevice([](KSimDevice& d) { return dynamic_cast<KUbloxDevice&>(d).OtherUartBaud(); }), 9600u);
}

} // namespace
#endif
