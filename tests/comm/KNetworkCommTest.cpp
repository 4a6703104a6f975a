#ifndef _WIN32
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "OpenFailureRecorder.h"
#include "comm/KNetworkComm.h"
#include "support/FakeComPortServer.h"

namespace {

using Behaviour = FakeComPortServer::Behaviour;

std::vector<std::string> goneSeen;

// A link to `server`, with the failures it reports and the losses it tells of.
class NetworkLink : public ::testing::Test {
protected:
    void SetUp() override {
        goneSeen.clear();
        KSerialComm::SetDeviceGoneHandler([](const std::string& device) { goneSeen.push_back(device); });
    }
    void TearDown() override { KSerialComm::SetDeviceGoneHandler(nullptr); }

    static bool OpenAt(KNetworkComm& link, const std::string& url, int32_t baud) {
        link.DevicePath = url;
        link.BaudRate = baud;
        return link.Open(0);
    }
    // Reads until `count` bytes came or the bound passed.
    static Bytes ReadBytes(KNetworkComm& link, size_t count) {
        Bytes got;
        FakeComPortServer::WaitFor([&] {
            uint8_t buffer[64];
            const int32_t n = link.ReadAvailable(buffer, sizeof buffer);
            got.insert(got.end(), buffer, buffer + n);
            return got.size() >= count || link.DeviceGone();
        });
        return got;
    }

    OpenFailureRecorder failures;
};

// A TCP port of the loopback interface that nobody listens on.
std::string ClosedPortUrl() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(s);
    return "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

TEST_F(NetworkLink, SetsTheLineAtTheServerAndCarriesEveryByteBothWays) {
    FakeComPortServer server;
    KNetworkComm link;
    ASSERT_TRUE(OpenAt(link, server.Url(), 9600)) << failures.Seen().size();
    EXPECT_EQ(server.RatesAsked(), std::vector<uint32_t>{9600});
    std::vector<std::pair<uint8_t, std::string>> settings;
    for (const auto& c : server.Commands()) settings.emplace_back(c.command, ToHex(c.value));
    const std::vector<std::pair<uint8_t, std::string>> expected = {
        {2, "08"}, {3, "01"}, {4, "01"}, {5, "01"}, {5, "08"}, {5, "0B"}, {1, "00 00 25 80"}};
    EXPECT_EQ(settings, expected);  // 8 bits, no parity, one stop bit, no flow control, DTR and RTS on

    ASSERT_TRUE(link.Write("\x00\xFF\x41", 3));
    EXPECT_TRUE(FakeComPortServer::WaitFor([&] { return server.LineBytes().size() >= 3; }));
    EXPECT_EQ(ToHex(server.LineBytes()), "00 FF 41");
    server.Send(Hex("FF 10 FF"));
    EXPECT_EQ(ToHex(ReadBytes(link, 3)), "FF 10 FF");
    EXPECT_TRUE(failures.Seen().empty());
    link.Close();
}

TEST_F(NetworkLink, ARateChangeCountsOnlyWhenTheServerConfirmsIt) {
    struct Case {
        const char* what;
        int64_t answerRate;
        bool changed;
        const char* reasonPart;
    };
    const std::vector<Case> cases = {
        {"confirmed", -1, true, ""},
        {"another rate confirmed", 57600, false, "refused 115200 baud (its port is at 57600)"},
        {"never answered", 0, false, "did not confirm 115200 baud"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        failures.Clear();
        FakeComPortServer server(Behaviour{.answerRate = c.answerRate});
        KNetworkComm link;
        // The first open's rate is confirmed by any answer this server gives but silence.
        link.DevicePath = server.Url();
        link.BaudRate = c.answerRate > 0 ? static_cast<int32_t>(c.answerRate) : 9600;
        if (c.answerRate == 0) {
            EXPECT_FALSE(link.Open(0));
            ASSERT_EQ(failures.Seen().size(), 1u);
            EXPECT_NE(failures.Seen()[0].reason.find("did not confirm"), std::string::npos);
            continue;
        }
        ASSERT_TRUE(link.Open(0));
        EXPECT_EQ(link.Reopen(115200), c.changed);
        EXPECT_EQ(server.RatesAsked().back(), 115200u);
        if (c.changed) {
            EXPECT_TRUE(link.IsOpen());
            EXPECT_EQ(link.BaudRate, 115200);
            EXPECT_TRUE(failures.Seen().empty());
        } else {
            EXPECT_FALSE(link.IsOpen());  // as a refused rate leaves a local port
            ASSERT_EQ(failures.Seen().size(), 1u);
            EXPECT_EQ(failures.Seen()[0].kind, KOpenError::Settings);
            EXPECT_NE(failures.Seen()[0].reason.find(c.reasonPart), std::string::npos) << failures.Seen()[0].reason;
        }
    }
}

TEST_F(NetworkLink, ARateChangeWaitsUntilWhatWasWrittenHasLeftTheServersLine) {
    FakeComPortServer server;
    KNetworkComm link;
    ASSERT_TRUE(OpenAt(link, server.Url(), 9600));
    const Bytes command(480, 0x41);  // half a second on the wire at 9600 baud
    ASSERT_TRUE(link.Write(command.data(), static_cast<uint32_t>(command.size())));
    ASSERT_TRUE(link.Reopen(19200));
    ASSERT_EQ(server.LineBytes().size(), 480u);
    const auto rateAt = server.Commands().back().at;
    EXPECT_GE(rateAt - server.LastLineByteAt(), std::chrono::milliseconds(450));
}

TEST_F(NetworkLink, AServerWithoutTheComPortOptionAndAServerNotThereAreToldApart) {
    struct Case {
        const char* what;
        Behaviour::ComPort comPort;  // ignored for the two that have no server
        int where;                   // 0 the server, 1 a closed port, 2 a host no one knows
        KOpenError::Kind kind;
        const char* reasonPart;
        const char* remedyPart;
    };
    const std::vector<Case> cases = {
        {"refused", Behaviour::Refuse, 0, KOpenError::Settings, "refused the COM port option", "socket://"},
        {"not taken up", Behaviour::Ignore, 0, KOpenError::Settings, "did not take up the COM port option", "socket://"},
        {"nobody listens", Behaviour::Accept, 1, KOpenError::NotPresent, "cannot connect to 127.0.0.1 port",
         "terminal server runs"},
        {"unknown host", Behaviour::Accept, 2, KOpenError::NotPresent, "cannot find host no-such-host.invalid",
         "terminal server runs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        failures.Clear();
        FakeComPortServer server(Behaviour{.comPort = c.comPort});
        const std::string url = c.where == 0   ? server.Url()
                                : c.where == 1 ? ClosedPortUrl()
                                               : std::string("rfc2217://no-such-host.invalid:2217");
        KNetworkComm link;
        EXPECT_FALSE(OpenAt(link, url, 9600));
        ASSERT_EQ(failures.Seen().size(), 1u);
        const KOpenError error = failures.Seen()[0];
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.device, url);
        EXPECT_NE(error.reason.find(c.reasonPart), std::string::npos) << error.reason;
        EXPECT_NE(error.remedy.find(c.remedyPart), std::string::npos) << error.remedy;
        EXPECT_FALSE(link.DeviceGone());
    }
}

TEST_F(NetworkLink, ACutConnectionIsADeviceGoneToldOnceAndANewOpenConnectsAgain) {
    auto server = std::make_unique<FakeComPortServer>();
    const std::string url = server->Url();
    KNetworkComm link;
    ASSERT_TRUE(OpenAt(link, url, 9600));
    server->Drop();
    ReadBytes(link, 1);
    EXPECT_TRUE(link.DeviceGone());
    EXPECT_FALSE(link.Write("x", 1));
    EXPECT_EQ(goneSeen, std::vector<std::string>{url});

    // The server listens on: closed and opened again, the link is back.
    link.Close();
    ASSERT_TRUE(link.Open(0));
    EXPECT_FALSE(link.DeviceGone());
    EXPECT_EQ(server->Connections(), 2);
    ASSERT_TRUE(link.Write("y", 1));
    EXPECT_TRUE(FakeComPortServer::WaitFor([&] { return server->LineBytes() == Bytes{'y'}; }));

    // The server itself gone: reopening stays a device gone, not a failure reported every try.
    server.reset();
    ReadBytes(link, 1);
    link.Close();
    EXPECT_FALSE(link.Open(0));
    EXPECT_TRUE(link.DeviceGone());
    EXPECT_TRUE(failures.Seen().empty());
    EXPECT_EQ(goneSeen.size(), 2u);
}

TEST_F(NetworkLink, ASocketPortCarriesRawBytesAndLeavesTheRateToTheServer) {
    FakeComPortServer server(Behaviour{.raw = true});
    KNetworkComm link;
    ASSERT_TRUE(OpenAt(link, server.Url(), 9600));
    ASSERT_TRUE(link.Write("\xFF\xFB\x2C", 3));
    ASSERT_TRUE(link.Reopen(115200));
    EXPECT_TRUE(FakeComPortServer::WaitFor([&] { return server.LineBytes().size() >= 3; }));
    EXPECT_EQ(ToHex(server.LineBytes()), "FF FB 2C");  // as written: nothing doubled, nothing added
    EXPECT_TRUE(server.Commands().empty());
    server.Send(Hex("FF FF"));
    EXPECT_EQ(ToHex(ReadBytes(link, 2)), "FF FF");
}

TEST_F(NetworkLink, DoctorsCheckTellsWhatTheServerIsAndThatNothingGuardsIt) {
    struct Case {
        const char* what;
        Behaviour behaviour;
        bool serverThere;
        std::vector<KPortFinding::Status> statuses;
        const char* firstPart;
    };
    const std::vector<Case> cases = {
        {"RFC 2217", {}, true, {KPortFinding::Ok, KPortFinding::Note}, "takes the COM port option of RFC 2217 and confirmed 9600"},
        {"raw", Behaviour{.raw = true}, true, {KPortFinding::Ok, KPortFinding::Note, KPortFinding::Note}, "answers (raw TCP)"},
        {"no RFC 2217", Behaviour{.comPort = Behaviour::Refuse}, true, {KPortFinding::Problem}, "refused the COM port option"},
        {"nobody", {}, false, {KPortFinding::Problem}, "cannot connect to 127.0.0.1 port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeComPortServer server(c.behaviour);
        const std::vector<KPortFinding> findings = CheckNetworkPort(c.serverThere ? server.Url() : ClosedPortUrl());
        std::vector<KPortFinding::Status> statuses;
        for (const KPortFinding& f : findings) statuses.push_back(f.status);
        EXPECT_EQ(statuses, c.statuses);
        ASSERT_FALSE(findings.empty());
        EXPECT_NE(findings[0].message.find(c.firstPart), std::string::npos) << findings[0].message;
        if (findings[0].status == KPortFinding::Ok) {
            EXPECT_NE(findings.back().message.find("no authentication"), std::string::npos);
        }
    }
    EXPECT_EQ(CheckNetworkPort("rfc2217://host")[0].status, KPortFinding::Problem);
    EXPECT_TRUE(failures.Seen().empty());  // the checks report through their findings only
}

} // namespace
#endif
