// The serial link on Windows, end to end: COM1 and COM12 lead (through Wine) to one
// pseudo-terminal whose other end is held by tests/tools/pty_peer, which reports the line
// settings it sees and answers commands. scripts/windows-tests.sh sets this up and says so in
// VELINOR_PTY_PEER.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/KPortRegistry.h"
#include "comm/KSerialBackend.h"
#include "comm/KSerialComm.h"

namespace {

constexpr auto kReplyBound = std::chrono::seconds(5);

std::mutex failuresLock;
std::vector<KOpenError> failures;

void RecordFailure(const KOpenError& error) {
    std::lock_guard<std::mutex> guard(failuresLock);
    failures.push_back(error);
}

std::vector<KOpenError> Failures() {
    std::lock_guard<std::mutex> guard(failuresLock);
    return failures;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::vector<uint8_t> AllByteValues() {
    std::vector<uint8_t> bytes(256);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

// Polls until `done` holds or the bound has passed; the bound only limits a failing test.
template <typename Predicate> bool WaitFor(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + kReplyBound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(5);
    }
    return true;
}

class Win32SerialLink : public ::testing::Test {
protected:
    void SetUp() override {
        const char* peer = std::getenv("VELINOR_PTY_PEER");
        if (!peer || std::string(peer) != "1")
            GTEST_SKIP() << "COM1 and COM12 do not lead to pty_peer "
                            "(scripts/windows-tests.sh sets that up)";
        {
            std::lock_guard<std::mutex> guard(failuresLock);
            failures.clear();
        }
        KSerialComm::SetOpenFailureHandler(RecordFailure);
        KPortRegistry::Teardown();  // a fresh scan of the real ports
    }

    void TearDown() override {
        KPortRegistry::Teardown();
        KSerialComm::SetOpenFailureHandler(nullptr);
    }

    static bool OpenCom1(KSerialComm& link, int32_t baud, int32_t stopBits = 1) {
        link.PortNumber = 0;
        link.BaudRate = baud;
        link.StopBits = stopBits;
        return link.Open(0);
    }

    static bool Send(KSerialComm& link, const std::string& text) {
        return link.Write(text.data(), static_cast<uint32_t>(text.size()));
    }

    // One answer line from the peer, without its "\n"; empty when none came in time.
    static std::string ReadLine(KSerialComm& link) {
        std::string line;
        char c = 0;
        const bool complete = WaitFor([&] {
            while (link.ReadAvailable(&c, 1) == 1) {
                if (c == '\n') return true;
                line += c;
            }
            return false;
        });
        return complete ? line : std::string();
    }

    static std::string Ask(KSerialComm& link, const std::string& command) {
        if (!Send(link, command + "\n")) return "(write failed)";
        return ReadLine(link);
    }

    static int64_t Queued(KSerialComm& link) { return KSerialBackend::InputQueued(link.port); }
};

TEST_F(Win32SerialLink, RegistryFindsTheMappedPortWithItsDeviceNames) {
    KPortRegistry& registry = KPortRegistry::Instance();
    ASSERT_TRUE(registry.IsPresent(0));
    EXPECT_EQ(registry.DevicePath(0), "\\\\.\\COM1");
    EXPECT_EQ(registry.Label(0), "COM1");
    EXPECT_EQ(registry.FindPort("COM1"), 0);
    EXPECT_EQ(registry.FindPort("\\\\.\\COM1"), 0);
    ASSERT_TRUE(registry.IsPresent(11));
    EXPECT_EQ(registry.DevicePath(11), "\\\\.\\COM12");
    EXPECT_EQ(registry.FindPort("COM12"), 11);
    EXPECT_FALSE(registry.IsPresent(24));
    EXPECT_FALSE(registry.IsPresent(-1));
}

TEST_F(Win32SerialLink, EveryRateOfTheSessionReachesTheLine) {
    for (int32_t baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        SCOPED_TRACE(baud);
        KSerialComm link;
        ASSERT_TRUE(OpenCom1(link, baud));
        EXPECT_EQ(Ask(link, "LINE"), "LINE " + std::to_string(baud) + " 8N1");
        EXPECT_TRUE(link.Close());
    }
    EXPECT_TRUE(Failures().empty());
}

TEST_F(Win32SerialLink, TwoStopBitsReachTheLineAndThreeMeanOne) {
    KSerialComm link;
    ASSERT_TRUE(OpenCom1(link, 19200, 2));
    EXPECT_EQ(Ask(link, "LINE"), "LINE 19200 8N2");
    link.Close();
    ASSERT_TRUE(OpenCom1(link, 19200, 3));
    EXPECT_EQ(Ask(link, "LINE"), "LINE 19200 8N1");
    link.Close();
}

TEST_F(Win32SerialLink, OpenChangesOnlyRateAndFramingOfTheDcb) {
    KSerialComm link;
    link.Parity = 'E';
    link.WordLength = 7;
    ASSERT_TRUE(OpenCom1(link, 2400, 2));
    const KSerialPort initial;
    DCB expected = initial.dcb;
    expected.BaudRate = 2400;
    expected.Parity = EVENPARITY;
    expected.ByteSize = 7;
    expected.StopBits = TWOSTOPBITS;
    EXPECT_EQ(std::memcmp(&link.port.dcb, &expected, sizeof expected), 0);
    // A pseudo-terminal always carries 8 bits without parity; rate and stop bits still show.
    EXPECT_EQ(Ask(link, "LINE"), "LINE 2400 8N2");
    link.Close();
}

TEST_F(Win32SerialLink, OpenLeavesTheDriverInTheStateTheLinkRelies) {
    KSerialComm link;
    ASSERT_TRUE(OpenCom1(link, 57600));
    ASSERT_TRUE(KSerialBackend::IsValid(link.port));

    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(link.port.handle, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);

    DCB state{};
    state.DCBlength = sizeof state;
    ASSERT_TRUE(GetCommState(link.port.handle, &state));
    EXPECT_EQ(state.BaudRate, 57600u);
    EXPECT_EQ(state.fBinary, 1u);
    EXPECT_EQ(state.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(state.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(state.fOutxCtsFlow, 0u);
    EXPECT_EQ(state.fOutX, 0u);
    EXPECT_EQ(state.fInX, 0u);

    // A read with nothing waiting returns at once instead of blocking the reader thread.
    uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.ReadAvailable(&byte, 1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kReplyBound);
    link.Close();
}

TEST_F(Win32SerialLink, ReadExactIsAllOrNothing) {
    KSerialComm link;
    ASSERT_TRUE(OpenCom1(link, 9600));
    ASSERT_TRUE(Send(link, "SEND 01020304\n"));
    ASSERT_TRUE(WaitFor([&] { return Queued(link) == 4; }));

    uint8_t buffer[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_FALSE(link.ReadExact(buffer, 5));
    EXPECT_EQ(Queued(link), 4);  // nothing consumed
    EXPECT_EQ(buffer[0], 0xEE);

    ASSERT_TRUE(Send(link, "SEND 05\n"));
    ASSERT_TRUE(WaitFor([&] { return Queued(link) == 5; }));
    ASSERT_TRUE(link.ReadExact(buffer, 5));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(Queued(link), 0);
    EXPECT_FALSE(link.ReadExact(buffer, 1));
    link.Close();
}

TEST_F(Win32SerialLink, EveryByteValueCrossesTheLineUnchangedBothWays) {
    KSerialComm link;
    ASSERT_TRUE(OpenCom1(link, 115200));
    const std::vector<uint8_t> bytes = AllByteValues();

    // Out: the peer echoes what arrived, as text.
    ASSERT_TRUE(Send(link, "ECHO 256\n"));
    ASSERT_TRUE(link.Write(bytes.data(), static_cast<uint32_t>(bytes.size())));
    EXPECT_EQ(ReadLine(link), "DATA " + Hex(bytes));

    // In: no character is translated, swallowed as flow control or taken for a line end.
    ASSERT_TRUE(Send(link, "SEND " + Hex(bytes) + "\n"));
    ASSERT_TRUE(WaitFor([&] { return Queued(link) == 256; }));
    std::vector<uint8_t> got(256);
    ASSERT_TRUE(link.ReadExact(got.data(), 256));
    EXPECT_EQ(got, bytes);
    link.Close();
}

TEST_F(Win32SerialLink, ReopenDropsBytesLeftFromTheEarlierRate) {
    KSerialComm link;
    ASSERT_TRUE(OpenCom1(link, 4800));
    ASSERT_TRUE(Send(link, "SEND 414243\n"));
    ASSERT_TRUE(WaitFor([&] { return Queued(link) == 3; }));
    link.Close();

    ASSERT_TRUE(OpenCom1(link, 9600));
    EXPECT_EQ(Queued(link), 0);
    EXPECT_EQ(Ask(link, "PING"), "PONG");
    link.Close();
}

// After a block that the peer echoes: the peer answers PING again, so every byte of the block
// reached it (a lost byte would leave it still counting, taking the PING for data). Its echo may
// come first, when the reopen's purge did not drop it.
::testing::AssertionResult PeerGotItAll(KSerialComm& link, const std::vector<uint8_t>& block) {
    if (!link.Write("PING\n", 5)) return ::testing::AssertionFailure() << "write failed";
    for (int line = 0; line < 2; ++line) {
        std::string text;
        char c = 0;
        const bool complete = WaitFor([&] {
            while (link.ReadAvailable(&c, 1) == 1) {
                if (c == '\n') return true;
                text += c;
            }
            return false;
        });
        if (!complete) return ::testing::AssertionFailure() << "no answer; the peer still counts bytes";
        if (text == "PONG") return ::testing::AssertionSuccess();
        if (text != "DATA " + Hex(block)) return ::testing::AssertionFailure() << "answered " << text.substr(0, 80);
    }
    return ::testing::AssertionFailure() << "no PONG";
}

TEST_F(Win32SerialLink, CloseLetsTheLastBytesTakeTheirTimeOnTheLine) {
    // A queue count leaves out what the adapter's own buffer holds: the close also gives the
    // bytes written the time they need at the rate (here 60 bytes at 1200 baud, 8N1: 500 ms).
    KSerialComm link;
    ASSERT_TRUE(OpenCom1(link, 1200));
    const std::vector<uint8_t> block(60, 0x41);
    ASSERT_TRUE(Send(link, "ECHO 60\n"));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(link.Write(block.data(), static_cast<uint32_t>(block.size())));
    link.Close();
    const auto closedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(closedMs, 500);
    RecordProperty("close_after_write_ms", static_cast<int>(closedMs));
    ASSERT_TRUE(OpenCom1(link, 9600));
    EXPECT_TRUE(PeerGotItAll(link, block));
    link.Close();
}

TEST_F(Win32SerialLink, PortNamedByTheUserOpensInEitherSpelling) {
    // Past COM9 the bare name is no device at all; the link adds the device namespace.
    for (const char* name : {"COM12", "\\\\.\\COM12", "com12:", "COM1", "\\\\.\\COM1"}) {
        SCOPED_TRACE(name);
        KSerialComm link;
        link.DevicePath = name;
        link.BaudRate = 38400;
        ASSERT_TRUE(link.Open(0));
        EXPECT_EQ(Ask(link, "LINE"), "LINE 38400 8N1");
        link.Close();
    }
    EXPECT_TRUE(Failures().empty());
}

TEST_F(Win32SerialLink, SecondLinkOnTheSamePortWaitsForTheFirstToClose) {
    KSerialComm first;
    ASSERT_TRUE(OpenCom1(first, 9600));
    std::atomic<bool> secondOpen{false};
    KSerialComm second;
    std::thread other([&] {
        secondOpen = OpenCom1(second, 9600);
        second.Close();
    });
    Sleep(200);
    EXPECT_FALSE(secondOpen.load());  // still waiting for the port lock
    first.Close();
    other.join();
    EXPECT_TRUE(secondOpen.load());
}

TEST_F(Win32SerialLink, RefusedSettingsAreReportedAndReleaseThePort) {
    KSerialComm link;
    link.WordLength = 9;  // no UART frames nine data bits
    EXPECT_FALSE(OpenCom1(link, 9600));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(KSerialBackend::IsValid(link.port));

    const std::vector<KOpenError> seen = Failures();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, KOpenError::Settings);
    EXPECT_EQ(seen[0].text, "Unable to initialize COM Port to requested settings");
    EXPECT_EQ(seen[0].device, "\\\\.\\COM1");
    EXPECT_FALSE(seen[0].reason.empty());
    EXPECT_FALSE(seen[0].remedy.empty());

    // Another thread gets the port without waiting: the failed open gave its lock back.
    auto reopened = std::async(std::launch::async, [] {
        KSerialComm other;
        const bool opened = OpenCom1(other, 9600);
        const std::string answer = opened ? Ask(other, "PING") : std::string();
        other.Close();
        return answer;
    });
    ASSERT_EQ(reopened.wait_for(kReplyBound), std::future_status::ready);
    EXPECT_EQ(reopened.get(), "PONG");
}

TEST_F(Win32SerialLink, PortThatCannotBeOpenedIsReportedAsBusy) {
    // COM24 counts as present under the scan rule but leads to no device here.
    KPortRegistry& registry = KPortRegistry::Instance();
    if (!registry.IsPresent(23)) GTEST_SKIP() << "COM24 is not listed on this system";
    KSerialComm link;
    link.PortNumber = 23;
    EXPECT_FALSE(link.Open(0));
    EXPECT_FALSE(link.IsOpen());

    const std::vector<KOpenError> seen = Failures();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, KOpenError::Busy);
    EXPECT_EQ(seen[0].text, "COM Port Busy Or Not Installed");
    EXPECT_EQ(seen[0].device, "\\\\.\\COM24");
    EXPECT_NE(seen[0].osError, 0);
    EXPECT_FALSE(seen[0].reason.empty());
    EXPECT_EQ(link.LastOpenError().kind, KOpenError::Busy);
}

TEST_F(Win32SerialLink, AbsentPortFailsSilently) {
    KPortRegistry::PortTable table;
    table[0] = KPortInfo{true, "\\\\.\\COM1", "COM1"};
    KPortRegistry::InstallForTesting(table);

    KSerialComm absent;
    absent.PortNumber = 2;
    EXPECT_FALSE(absent.Open(0));
    KSerialComm beyond;
    beyond.PortNumber = 24;
    EXPECT_FALSE(beyond.Open(0));

    EXPECT_TRUE(Failures().empty());
    EXPECT_EQ(absent.LastOpenError().kind, KOpenError::NotPresent);
    EXPECT_FALSE(KSerialBackend::IsValid(absent.port));

    // The present one still opens through the installed table.
    KSerialComm present;
    ASSERT_TRUE(OpenCom1(present, 9600));
    EXPECT_EQ(Ask(present, "PING"), "PONG");
    present.Close();
}

TEST_F(Win32SerialLink, OperationsOnAClosedLinkTouchNothing) {
    KSerialComm link;
    uint8_t byte = 0;
    EXPECT_FALSE(link.Write("x", 1));
    EXPECT_FALSE(link.ReadExact(&byte, 1));
    EXPECT_EQ(link.ReadAvailable(&byte, 1), 0);
    EXPECT_EQ(KSerialBackend::InputQueued(link.port), -1);

    ASSERT_TRUE(OpenCom1(link, 9600));
    const HANDLE handle = link.port.handle;
    EXPECT_TRUE(link.Open(0));  // already open: the same handle, no second lock
    EXPECT_EQ(link.port.handle, handle);
    EXPECT_FALSE(link.Write("x", 0));
    EXPECT_FALSE(link.ReadExact(&byte, 0));
    EXPECT_EQ(link.ReadAvailable(&byte, 0), 0);
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(link.port.handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(link.Close());
}

} // namespace

#endif // _WIN32
