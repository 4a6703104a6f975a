#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "OpenFailureRecorder.h"
#include "PortLockProbe.h"
#include "support/PtyPair.h"
#include "comm/KPortRegistry.h"
#include "comm/KSerialComm.h"
#include "comm/KSettingsStore.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kNotInstalled = "COM Port Busy Or Not Installed";
constexpr const char* kBadSettings = "Unable to initialize COM Port to requested settings";

std::string OwnProgramName() {
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::string ReadExactText(KSerialComm& link, uint32_t length) {
    std::string bytes(length, '\0');
    return link.ReadExact(bytes.data(), length) ? bytes : std::string("<nothing>");
}

class EmptyStore : public KSettingsStore {
public:
    void WriteInt(int32_t, const char*, const char*, int32_t) override {}
    bool ReadInt(int32_t, const char*, const char*, int32_t& value, int32_t defaultValue) override {
        value = defaultValue;
        return false;
    }
    void WriteString(int32_t, const char*, const char*, const std::string&) override {}
    std::string ReadString(int32_t, const char*, const char*, const std::string& defaultValue) override {
        return defaultValue;
    }
};

// Each test gets its own pseudo-terminal and a registry whose only port, slot 0, is that
// terminal, so nothing depends on the machine's serial ports.
class SerialPty : public ::testing::Test {
protected:
    void SetUp() override {
        KPortRegistry::PortTable table;
        table[0] = KPortInfo{true, pty.SlavePath(), "pty"};
        KPortRegistry::InstallForTesting(table);
    }
    void TearDown() override { KPortRegistry::Teardown(); }

    // A link on the terminal by its path (not through the registry).
    std::unique_ptr<KSerialComm> DeviceLink(int32_t baud = 9600) {
        auto link = std::make_unique<KSerialComm>();
        link->DevicePath = pty.SlavePath();
        link->BaudRate = baud;
        return link;
    }

    PtyPair pty;
    OpenFailureRecorder failures;
};

TEST_F(SerialPty, OpensAtEachRequestedRateAndReopensAtANewOne) {
    const std::pair<int32_t, speed_t> rates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
                                                 {9600, B9600},   {19200, B19200}, {38400, B38400},
                                                 {57600, B57600}, {115200, B115200}};
    KSerialComm link;
    link.PortNumber = 0;
    for (const auto& [baud, speed] : rates) {
        link.BaudRate = baud;
        ASSERT_TRUE(link.Open(0)) << baud;
        const termios seen = pty.SlaveSettings();
        EXPECT_EQ(cfgetospeed(&seen), speed) << baud;
        EXPECT_EQ(cfgetispeed(&seen), speed) << baud;
        EXPECT_EQ(link.port.dcb.BaudRate, static_cast<uint32_t>(baud));
        EXPECT_TRUE(link.Close());
    }
    EXPECT_TRUE(failures.Seen().empty());
}

TEST_F(SerialPty, LineIsRawNonBlockingAndExclusive) {
    auto link = DeviceLink(19200);
    ASSERT_TRUE(link->Open(0));
    const termios seen = pty.SlaveSettings();
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(seen.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    EXPECT_EQ(seen.c_oflag & OPOST, 0u);
    EXPECT_EQ(seen.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
#ifdef CRTSCTS
    EXPECT_EQ(seen.c_cflag & CRTSCTS, 0u);
#endif
    EXPECT_EQ(seen.c_cc[VMIN], 0);
    EXPECT_EQ(seen.c_cc[VTIME], 0);
    const int fd = link->port.handle;
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
#ifdef TIOCGEXCL
    int exclusive = 0;
    ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    link->Close();
    const int own = pty.OpenSlave();
    ASSERT_EQ(::ioctl(own, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "closing gives the device back";
#endif
}

struct FramingCase {
    char parity;
    int32_t stopBits;
    int32_t wordLength;
    uint8_t dcbParity;
    uint8_t dcbStopBits;
    tcflag_t seenFlags;  // of PARODD, CMSPAR and CSTOPB: what a pseudo-terminal keeps
};

TEST_F(SerialPty, ParityStopBitsAndWordLengthMapLikeTheWin32Settings) {
#ifdef CMSPAR
    const FramingCase cases[] = {
        {'N', 1, 8, 0, 0, 0},
        {'e', 1, 8, 0, 0, 0},  // lower case is no parity
        {'E', 1, 7, 2, 0, 0},
        {'O', 2, 8, 1, 2, PARODD | CSTOPB},
        {'M', 1, 8, 3, 0, PARODD | CMSPAR},
        {'S', 2, 6, 4, 2, CMSPAR | CSTOPB},
        {'N', 3, 8, 0, 0, 0},  // only 2 means two stop bits
        {'X', 0, 5, 0, 0, 0},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(std::string("parity ") + c.parity + ", stop bits " + std::to_string(c.stopBits));
        auto link = DeviceLink();
        link->Parity = c.parity;
        link->StopBits = c.stopBits;
        link->WordLength = c.wordLength;
        ASSERT_TRUE(link->Open(0)) << link->LastOpenError().reason << " errno " << link->LastOpenError().osError;
        EXPECT_EQ(link->port.dcb.Parity, c.dcbParity);
        EXPECT_EQ(link->port.dcb.StopBits, c.dcbStopBits);
        EXPECT_EQ(link->port.dcb.ByteSize, c.wordLength);
        const termios seen = pty.SlaveSettings();
        EXPECT_EQ(seen.c_cflag & (PARODD | CMSPAR | CSTOPB), c.seenFlags);
        link->Close();
    }
#else
    GTEST_SKIP() << "no mark or space parity on this system";
#endif
}

TEST_F(SerialPty, RefusedSettingsFailWithTheSettingsTextAndReleaseEverything) {
    struct Case {
        int32_t baud;
        int32_t wordLength;
        std::string inReason;
    } cases[] = {{12345, 8, "12345"}, {0, 8, "0 baud"}, {-9600, 8, "baud"}, {9600, 9, "9 data bits"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        failures.Clear();
        KSerialComm link;
        link.PortNumber = 0;
        link.BaudRate = c.baud;
        link.WordLength = c.wordLength;
        EXPECT_FALSE(link.Open(0));
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(link.port.handle, -1);
        const auto seen = failures.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].kind, KOpenError::Settings);
        EXPECT_EQ(seen[0].text, kBadSettings);
        EXPECT_EQ(seen[0].device, pty.SlavePath());
        EXPECT_NE(seen[0].reason.find(c.inReason), std::string::npos) << seen[0].reason;
        EXPECT_FALSE(seen[0].remedy.empty());
        EXPECT_EQ(link.LastOpenError().kind, KOpenError::Settings);
        EXPECT_TRUE(LockableFromAnotherThread(0));
        // Neither the exclusive claim nor the advisory lock is left behind.
        auto next = DeviceLink();
        EXPECT_TRUE(next->Open(0));
        next->Close();
    }
}

TEST_F(SerialPty, ReadExactTakesAllRequestedBytesOrNone) {
    auto link = DeviceLink();
    ASSERT_TRUE(link->Open(0));
    const int fd = link->port.handle;
    pty.Send("ABCD");
    ASSERT_TRUE(WaitQueued(fd, 4));
    char buffer[8] = {};
    EXPECT_FALSE(link->ReadExact(buffer, 5));
    EXPECT_EQ(QueuedOn(fd), 4) << "a short read must consume nothing";
    EXPECT_FALSE(link->ReadExact(buffer, 5)) << "and the same request fails the same way";
    EXPECT_EQ(QueuedOn(fd), 4);
    pty.Send("E");
    ASSERT_TRUE(WaitQueued(fd, 5));
    EXPECT_EQ(ReadExactText(*link, 5), "ABCDE");
    EXPECT_EQ(QueuedOn(fd), 0);
    EXPECT_FALSE(link->ReadExact(buffer, 1));
}

TEST_F(SerialPty, ReadExactAcrossManyPiecesDeliversTheStreamInOrder) {
    auto link = DeviceLink(115200);
    ASSERT_TRUE(link->Open(0));
    std::string sent;
    for (int i = 0; i < 2000; ++i) sent += static_cast<char>(i * 7 + 3);
    pty.Send(sent);
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
        const uint32_t want = static_cast<uint32_t>(std::min<size_t>(13, sent.size() - received.size()));
        std::string piece(want, '\0');
        if (link->ReadExact(piece.data(), want)) received += piece;
    }
    EXPECT_EQ(received, sent);
}

TEST_F(SerialPty, ReadAvailableTakesWhatIsThereWithoutWaiting) {
    auto link = DeviceLink();
    ASSERT_TRUE(link->Open(0));
    char buffer[16] = {};
    EXPECT_EQ(link->ReadAvailable(buffer, sizeof buffer), 0);
    pty.Send("xyz");
    ASSERT_TRUE(WaitQueued(link->port.handle, 3));
    EXPECT_EQ(link->ReadAvailable(buffer, 2), 2);
    EXPECT_EQ(std::string(buffer, 2), "xy");
    EXPECT_EQ(link->ReadAvailable(buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 'z');
    EXPECT_EQ(link->ReadAvailable(buffer, sizeof buffer), 0);
}

TEST_F(SerialPty, WriteReachesTheLine) {
    auto link = DeviceLink();
    ASSERT_TRUE(link->Open(0));
    const std::string command = "$PASHQ,PRT\r\n";
    EXPECT_TRUE(link->Write(command.data(), static_cast<uint32_t>(command.size())));
    EXPECT_EQ(pty.Receive(command.size(), 3000), command);
}

TEST_F(SerialPty, WriteGivesUpAfterAboutOneSecondWhenTheLineIsFull) {
    auto link = DeviceLink();
    ASSERT_TRUE(link->Open(0));
    // Nobody reads the master: the terminal's buffers fill and the write cannot finish.
    const std::vector<uint8_t> big(1 << 20, 0x55);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link->Write(big.data(), static_cast<uint32_t>(big.size())));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(took, 900);
    EXPECT_LE(took, 5000);
    // The link stays open and usable once the line drains.
    EXPECT_TRUE(link->IsOpen());
    while (!pty.Receive(65536, 50).empty()) {
    }
    EXPECT_TRUE(link->Write("ok", 2));
}

TEST_F(SerialPty, OpenDropsWhatWasQueuedBefore) {
    const int own = pty.OpenSlave();
    pty.Send("stale bytes from another rate");
    ASSERT_TRUE(WaitQueued(own, 29));
    auto link = DeviceLink();
    ASSERT_TRUE(link->Open(0));
    EXPECT_EQ(QueuedOn(link->port.handle), 0);
    pty.Send("new");
    ASSERT_TRUE(WaitQueued(link->port.handle, 3));
    EXPECT_EQ(ReadExactText(*link, 3), "new");
}

TEST_F(SerialPty, SecondOpenOfTheDeviceIsRefusedAsBusyAndNamesTheHolder) {
    auto first = DeviceLink();
    ASSERT_TRUE(first->Open(0));
    auto second = DeviceLink();
    EXPECT_FALSE(second->Open(0));
    EXPECT_FALSE(second->IsOpen());
    const auto seen = failures.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, KOpenError::Busy);
    EXPECT_EQ(seen[0].text, kNotInstalled);
    EXPECT_EQ(seen[0].device, pty.SlavePath());
    EXPECT_EQ(seen[0].osError, EBUSY);
    EXPECT_NE(seen[0].reason.find("pid " + std::to_string(::getpid())), std::string::npos) << seen[0].reason;
    EXPECT_NE(seen[0].reason.find(OwnProgramName()), std::string::npos) << seen[0].reason;
    EXPECT_FALSE(seen[0].remedy.empty());

    // The refused open took nothing from the first: it is still exclusive and still works.
#ifdef TIOCGEXCL
    int exclusive = 0;
    ASSERT_EQ(::ioctl(first->port.handle, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
#endif
    EXPECT_TRUE(first->Write("A", 1));
    EXPECT_EQ(pty.Receive(1, 3000), "A");

    EXPECT_TRUE(first->Close());
    EXPECT_TRUE(second->Open(0));
}

TEST_F(SerialPty, SecondOpenThroughTheSameRegistrySlotIsRefusedWithoutDeadlock) {
    KSerialComm first;
    KSerialComm second;
    first.PortNumber = second.PortNumber = 0;
    ASSERT_TRUE(first.Open(0));
    EXPECT_FALSE(second.Open(0));  // same thread: the re-entrant lock lets it reach the device
    EXPECT_EQ(second.LastOpenError().kind, KOpenError::Busy);
    EXPECT_TRUE(first.Close());
    EXPECT_TRUE(LockableFromAnotherThread(0)) << "the refused open must not keep a lock count";
}

TEST_F(SerialPty, AnotherProgramsAdvisoryLockMakesTheDeviceBusy) {
    const int own = pty.OpenSlave();
    ASSERT_EQ(::flock(own, LOCK_EX | LOCK_NB), 0);
    auto link = DeviceLink();
    EXPECT_FALSE(link->Open(0));
    EXPECT_EQ(link->LastOpenError().kind, KOpenError::Busy);
    ASSERT_EQ(::flock(own, LOCK_UN), 0);
    EXPECT_TRUE(link->Open(0));
}

TEST_F(SerialPty, OpeningAnOpenLinkKeepsItsHandleAndTakesNoSecondLock) {
    KSerialComm link;
    link.PortNumber = 0;
    ASSERT_TRUE(link.Open(0));
    const int handle = link.port.handle;
    link.BaudRate = 115200;  // ignored until the next real open
    EXPECT_TRUE(link.Open(0));
    EXPECT_EQ(link.port.handle, handle);
    const termios seen = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&seen), B9600);
    EXPECT_TRUE(link.Close());
    EXPECT_TRUE(LockableFromAnotherThread(0));
}

TEST_F(SerialPty, CloseTwiceAndOperationsOnAClosedLink) {
    KSerialComm link;
    link.PortNumber = 0;
    char buffer[4] = {};
    // Never opened.
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(link.Write("x", 1));
    EXPECT_FALSE(link.ReadExact(buffer, 1));
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 0);
    EXPECT_FALSE(link.Seek(0, 0));

    ASSERT_TRUE(link.Open(0));
    pty.Send("abc");
    ASSERT_TRUE(WaitQueued(link.port.handle, 3));
    EXPECT_TRUE(link.Close());
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.port.handle, -1);
    EXPECT_FALSE(link.Write("x", 1));
    EXPECT_FALSE(link.ReadExact(buffer, 1));
    EXPECT_EQ(link.ReadAvailable(buffer, sizeof buffer), 0);
    EXPECT_TRUE(LockableFromAnotherThread(0));
}

TEST_F(SerialPty, LengthsOfZeroTouchNothing) {
    auto link = DeviceLink();
    ASSERT_TRUE(link->Open(0));
    pty.Send("xyz");
    ASSERT_TRUE(WaitQueued(link->port.handle, 3));
    char buffer[4] = {};
    EXPECT_FALSE(link->ReadExact(buffer, 0));
    EXPECT_EQ(link->ReadAvailable(buffer, 0), 0);
    EXPECT_FALSE(link->Write("x", 0));
    EXPECT_EQ(QueuedOn(link->port.handle), 3);
    EXPECT_EQ(pty.Receive(1, 100), "");
}

TEST_F(SerialPty, MissingDeviceIsNotInstalledAndSaysSo) {
    KSerialComm link;
    link.DevicePath = "/dev/velinor-no-such-tty";
    EXPECT_FALSE(link.Open(0));
    const auto seen = failures.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, KOpenError::NotPresent);
    EXPECT_EQ(seen[0].text, kNotInstalled);
    EXPECT_EQ(seen[0].device, "/dev/velinor-no-such-tty");
    EXPECT_EQ(seen[0].osError, ENOENT);
    EXPECT_NE(seen[0].reason.find("does not exist"), std::string::npos) << seen[0].reason;
    EXPECT_NE(seen[0].remedy.find("velinor ports"), std::string::npos) << seen[0].remedy;
}

TEST_F(SerialPty, SomethingThatIsNoTerminalIsRefusedWithAReason) {
    TempDir dir;
    { std::ofstream(dir.File("plain.txt")) << "not a port"; }
    for (const std::string& path : {dir.File("plain.txt"), std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        failures.Clear();
        KSerialComm link;
        link.DevicePath = path;
        EXPECT_FALSE(link.Open(0));
        const auto seen = failures.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, kNotInstalled);
        EXPECT_EQ(seen[0].osError, ENOTTY);
        EXPECT_NE(seen[0].reason.find("not a serial device"), std::string::npos) << seen[0].reason;
    }
    EXPECT_EQ(std::ifstream(dir.File("plain.txt")).rdbuf()->sgetc(), 'n') << "the file is left alone";
}

TEST_F(SerialPty, FailedOpenReleasesThePortLockForTheNextSession) {
    const int own = pty.OpenSlave();
    ASSERT_EQ(::flock(own, LOCK_EX | LOCK_NB), 0);  // another program has the receiver
    KSerialComm link;
    link.PortNumber = 0;
    EXPECT_FALSE(link.Open(0));

    auto tryFromWorker = [] {
        return std::async(std::launch::async, [] {
            KSerialComm worker;
            worker.PortNumber = 0;
            const bool opened = worker.Open(0);
            worker.Close();
            return opened;
        });
    };
    auto busy = tryFromWorker();
    if (busy.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        KPortRegistry::Instance().UnlockPort(0);  // let the stuck worker go before failing
        busy.wait();
        FAIL() << "the worker waited for a lock that the failed open kept";
    }
    EXPECT_FALSE(busy.get());
    ASSERT_EQ(::flock(own, LOCK_UN), 0);
    auto free = tryFromWorker();
    ASSERT_EQ(free.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_TRUE(free.get());
}

TEST_F(SerialPty, LoadingSettingsClosesAnOpenLinkAndItsLock) {
    KSerialComm link;
    link.PortNumber = 0;
    link.BaudRate = 57600;
    ASSERT_TRUE(link.Open(0));
    EmptyStore store;
    link.LoadSettings(0, store);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.port.handle, -1);
    EXPECT_EQ(link.BaudRate, 9600);
    EXPECT_TRUE(LockableFromAnotherThread(0));
    auto other = DeviceLink();
    EXPECT_TRUE(other->Open(0)) << "the device itself was let go";
}

TEST_F(SerialPty, DestroyingAnOpenLinkLetsTheDeviceGo) {
    // Owners close before deleting, which releases the port lock; the destructor only makes sure
    // the device itself is not kept. A registry without the terminal keeps the lock out of it.
    KPortRegistry::InstallForTesting(KPortRegistry::PortTable{});
    auto link = DeviceLink();
    ASSERT_TRUE(link->Open(0));
    link.reset();
    auto other = DeviceLink();
    EXPECT_TRUE(other->Open(0));
}

TEST_F(SerialPty, ARegistryEndedOrReplacedWhileALinkIsOpenLeavesItsCloseSound) {
    // The link unlocks the very lock it took (alive still), not the lock of the registry in force.
    KPortRegistry::PortTable table;
    table[0] = KPortInfo{true, pty.SlavePath(), "pty"};
    for (const bool replace : {false, true}) {
        KSerialComm link;
        ASSERT_TRUE(link.Open(0));
        replace ? KPortRegistry::InstallForTesting(table) : KPortRegistry::Teardown();
        EXPECT_TRUE(link.Close());
        KPortRegistry::InstallForTesting(table);
        EXPECT_TRUE(LockableFromAnotherThread(0)) << replace;
    }
}

TEST_F(SerialPty, RegistrySlotOpensItsDeviceAndNamesTheComPort) {
    KSerialComm link;
    link.PortNumber = 0;
    ASSERT_TRUE(link.Open(0));
    char name[16] = {};
    link.GetPortName(name, sizeof name);
    EXPECT_STREQ(name, "COM1");
    EXPECT_EQ(link.port.portNumber, 0);
    EXPECT_TRUE(link.Write("ping", 4));
    EXPECT_EQ(pty.Receive(4, 3000), "ping");
}

} // namespace
#endif
