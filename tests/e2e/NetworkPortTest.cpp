// The velinor program through real terminal servers (ser2net, and python3-serial's RFC 2217
// port manager) in front of simulated receivers on pseudo-terminals. Real time, generous bounds.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "families/KSimFactory.h"
#include "sim/KPtySimulator.h"
#include "support/ChildProgram.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TerminalServer.h"

namespace {

using Kind = TerminalServer::Kind;

// A simulated receiver of `type` at `baud` behind a terminal server of `kind`.
struct ServedReceiver {
    ServedReceiver(Kind kind, int32_t type, int32_t baud) {
        if (TerminalServer::Program(kind).empty()) {
            skip = std::string(TerminalServer::Name(kind)) + " is not installed";
            return;
        }
        auto device = KSimFactory::CreateDevice(type, baud, {}, error);
        if (!device) return;
        simulator = std::make_unique<KPtySimulator>(std::move(device));
        if (!simulator->Start(error)) return;
        server = std::make_unique<TerminalServer>(kind, simulator->SlavePath(), static_cast<uint32_t>(baud));
        started = server->Start(error);
    }
    uint32_t DeviceBaud() { return simulator->World().WithDevice([](KSimDevice& d) { return d.Baud(); }); }

    std::string skip;
    std::string error;
    std::unique_ptr<KPtySimulator> simulator;
    std::unique_ptr<TerminalServer> server;
    bool started = false;
};

#define SERVE_OR_SKIP(served)                                  \
    if (!(served).skip.empty()) GTEST_SKIP() << (served).skip; \
    ASSERT_TRUE((served).started) << (served).error

std::string SetCommand(int32_t type, const std::string& url, int32_t target, const std::string& more = "") {
    return "set --receiver " + std::to_string(type) + " --port " + url + " --baud " + std::to_string(target) +
           " --last-baud 0 --until-confirmed --timeout 150" + more;
}

struct Through {
    Kind kind;
    int32_t type;
    int32_t start;
    int32_t target;
    int delayMs;  // added each way between velinor and the server
};

void PrintTo(const Through& c, std::ostream* os) {
    *os << TerminalServer::Name(c.kind) << ", type " << c.type << " from " << c.start << " to " << c.target << ", "
        << c.delayMs << " ms each way";
}

class ThroughAServer : public ::testing::TestWithParam<Through> {};

TEST_P(ThroughAServer, SetBringsTheReceiverToItsTargetAtTheServersUart) {
    const Through c = GetParam();
    ServedReceiver served(c.kind, c.type, c.start);
    SERVE_OR_SKIP(served);
    std::string url = served.server->Url();
    std::unique_ptr<DelayingRelay> relay;
    if (c.delayMs > 0) {
        relay = std::make_unique<DelayingRelay>(served.server->Port(), c.delayMs);
        url = "rfc2217://127.0.0.1:" + std::to_string(relay->Port());
    }
    TempDir config;
    const ProgramRun run = RunVelinor(SetCommand(c.type, url, c.target), config.Path());
    EXPECT_EQ(run.exitCode, 0) << run.Both();
    EXPECT_NE(run.Both().find("Receiver confirmed at " + std::to_string(c.target) + " baud"), std::string::npos)
        << run.Both();
    EXPECT_EQ(served.DeviceBaud(), static_cast<uint32_t>(c.target));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ThroughAServer,
    ::testing::Values(Through{Kind::Ser2netRfc2217, 15, 38400, 115200, 0}, Through{Kind::Ser2netRfc2217, 9, 19200, 57600, 0},
                      Through{Kind::PyserialRfc2217, 15, 9600, 230400, 0}, Through{Kind::PyserialRfc2217, 10, 4800, 38400, 0},
                      Through{Kind::Ser2netRfc2217, 15, 38400, 115200, 50}, Through{Kind::Ser2netRfc2217, 9, 19200, 57600, 50},
                      Through{Kind::Ser2netRfc2217, 15, 38400, 115200, 200}),
    [](const ::testing::TestParamInfo<Through>& param) {
        const Through& c = param.param;
        return std::string(c.kind == Kind::PyserialRfc2217 ? "Pyserial" : "Ser2net") + "Type" + std::to_string(c.type) +
               (c.delayMs ? "Delay" + std::to_string(c.delayMs) : "");
    });

TEST(NetworkPortEndToEnd, ARawSocketIsRefusedBySetBeforeAByteIsSent) {
    ServedReceiver served(Kind::Ser2netRaw, 15, 9600);
    SERVE_OR_SKIP(served);
    TempDir config;
    const ProgramRun run = RunVelinor(SetCommand(15, served.server->Url(), 115200), config.Path());
    EXPECT_EQ(run.exitCode, 2) << run.Both();
    EXPECT_NE(run.err.find("rate is fixed at the server"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("rfc2217://HOST:PORT"), std::string::npos) << run.err;
    EXPECT_EQ(served.DeviceBaud(), 9600u);
}

TEST(NetworkPortEndToEnd, AServerThatIsNotThereIsAPortErrorNamingHostAndPort) {
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(FreeLoopbackPort());
    TempDir config;
    for (const std::string& command : {SetCommand(15, url, 115200), "identify --port " + url,
                                       "time --receiver 15 --baud 9600 --port " + url}) {
        SCOPED_TRACE(command);
        const ProgramRun run = RunVelinor(command, config.Path());
        EXPECT_EQ(run.exitCode, 3) << run.Both();
        EXPECT_NE(run.err.find("cannot connect to 127.0.0.1 port"), std::string::npos) << run.err;
    }
}

TEST(NetworkPortEndToEnd, ACutConnectionIsWaitedForAndTheSessionResumesWhenTheServerIsBack) {
    ServedReceiver served(Kind::Ser2netRfc2217, 15, 38400);
    SERVE_OR_SKIP(served);
    TempDir config;
    const std::string url = served.server->Url();
    ChildProgram set({"set", "--receiver", "15", "--port", url, "--baud", "115200", "--last-baud", "4800",
                      "--until-confirmed", "--timeout", "150"},
                     config.Path());
    // Cut while the session looks for the receiver's rate.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (set.StandardOutput().find("Auto-detecting") == std::string::npos && set.Running() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    served.server->Stop();
    EXPECT_TRUE(set.WaitForError("device gone: " + url, 60000)) << set.Output();
    std::string error;
    ASSERT_TRUE(served.server->Start(error)) << error;
    EXPECT_TRUE(set.WaitForError(url + " is back; resuming", 60000)) << set.Output();
    EXPECT_EQ(set.Wait(150000), 0) << set.Output();
    EXPECT_EQ(served.DeviceBaud(), 115200u);
}

TEST(NetworkPortEndToEnd, IdentifyAndDoctorHearAReceiverThroughEitherKindOfServer) {
    struct Case {
        Kind kind;
        const char* identified;  // what identify says of the rate
        const char* serverFinding;
    };
    const std::vector<Case> cases = {
        {Kind::Ser2netRaw, "at the server's rate", "answers (raw TCP)"},
        {Kind::Ser2netRfc2217, "at 9600 baud", "takes the COM port option of RFC 2217"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TerminalServer::Name(c.kind));
        ServedReceiver served(c.kind, 15, 9600);
        SERVE_OR_SKIP(served);
        TempDir config;
        const std::string url = served.server->Url();
        const ProgramRun identify = RunVelinor("identify --listen-only --port " + url, config.Path());
        EXPECT_EQ(identify.exitCode, 0) << identify.Both();
        EXPECT_NE(identify.out.find("u-blox receiver (protocol ubx) " + std::string(c.identified)), std::string::npos)
            << identify.out;
        const ProgramRun doctor = RunVelinor("doctor " + url, config.Path());
        EXPECT_EQ(doctor.exitCode, 0) << doctor.Both();
        EXPECT_NE(doctor.out.find(c.serverFinding), std::string::npos) << doctor.out;
        EXPECT_NE(doctor.out.find("no authentication"), std::string::npos) << doctor.out;
        EXPECT_EQ(served.DeviceBaud(), 9600u);  // listening changes nothing
    }
}

} // namespace
#endif
