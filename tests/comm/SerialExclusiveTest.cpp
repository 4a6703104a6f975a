#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/HolderProcess.h"
#include "OpenFailureRecorder.h"
#include "support/PtyPair.h"
#include "comm/KSerialComm.h"
#include "comm/posix/KOutputQueue.h"
#include "comm/posix/KTermiosSettings.h"
#include "comm/posix/KUucpLock.h"
#include "receivers/KReceiver.h"
#include "session/KBaudSession.h"
#include "sim/KVirtualClock.h"

namespace fs = std::filesystem;

namespace {

// A link on a fresh pseudo-terminal by its path; lock files go to the tests' own lock folder.
class SerialExclusive : public ::testing::Test {
protected:
    std::unique_ptr<KSerialComm> Link(int32_t baud = 9600) {
        auto link = std::make_unique<KSerialComm>();
        link->DevicePath = pty.SlavePath();
        link->BaudRate = baud;
        return link;
    }
    std::string LockFile() const {
        return KUucpLock::Folder() + "/" + KUucpLock::FileName(pty.SlavePath());
    }

    PtyPair pty;
    OpenFailureRecorder failures;
};

TEST_F(SerialExclusive, AnotherProgramWithTheDeviceOrItsLockMakesItBusy) {
    const std::string device = pty.SlavePath();
    const std::string lockFile = LockFile();
    const int master = pty.Master();
    const std::function<std::string()> opensTheDevice = [device, master] {
        ::close(master); // what the child inherited: it is not the terminal's other end
        return std::to_string(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    };
    const std::function<std::string()> takesTheLock = [lockFile] {
        std::ofstream(lockFile) << LockText(::getpid());
        return std::string();
    };
    // minicom's own form: the pid padded to ten, then its name and the user's.
    const std::function<std::string()> takesTheLockAsMinicom = [lockFile] {
        std::ofstream(lockFile) << LockText(::getpid()).substr(0, 10) << " minicom someone\n";
        return std::string();
    };
    const struct {
        const char* name;
        std::function<std::string()> setUp;
        std::string inReason;
        std::string inRemedy;
        bool byLock;
    } cases[] = {
        {"serial-logger", opensTheDevice, " is open in serial-logger (pid ",
         "close serial-logger and try again", false},
        {"ModemManager", opensTheDevice, " is open in ModemManager (pid ",
         "ENV{ID_MM_DEVICE_IGNORE}=\"1\"", false},
        {"gpsd", opensTheDevice, " is open in gpsd (pid ", "sudo systemctl stop gpsd.socket",
         false},
        {"minicom", takesTheLock, " is locked by minicom (pid ", "close minicom and try again",
         true},
        {"minicom", takesTheLockAsMinicom, " is locked by minicom (pid ", "close minicom and try again",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        failures.Clear();
        auto holder = std::make_unique<HolderProcess>(c.name, c.setUp);
        holder->Said(); // it holds the device (or its lock) now
        auto link = Link();
        EXPECT_FALSE(link->Open(0));
        const auto seen = failures.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].kind, KOpenError::Busy);
        EXPECT_EQ(seen[0].text, "COM Port Busy Or Not Installed");
        EXPECT_EQ(seen[0].device, device);
        EXPECT_NE(seen[0].reason.find(c.inReason + std::to_string(holder->Pid()) + ")"),
                  std::string::npos)
            << seen[0].reason;
        EXPECT_NE(seen[0].remedy.find(c.inRemedy), std::string::npos) << seen[0].remedy;
        EXPECT_EQ(seen[0].reason.find(lockFile) != std::string::npos, c.byLock) << seen[0].reason;
        EXPECT_EQ(KUucpLock::ReadOwner(lockFile), c.byLock ? holder->Pid() : 0)
            << "a refused open leaves no lock of its own and keeps theirs";

        holder.reset(); // the other program ends; its lock file, if any, is stale now
        EXPECT_TRUE(link->Open(0)) << link->LastOpenError().reason;
        EXPECT_EQ(KUucpLock::ReadOwner(lockFile), ::getpid());
        link->Close();
        EXPECT_FALSE(fs::exists(lockFile)) << "ours goes at close";
    }
}

TEST_F(SerialExclusive, CloseGivesBackTheLineSettingsFoundAtOpen) {
    // Settings no open would choose: a cooked line at 2400 baud, even parity, 7 bits.
    termios before = pty.SlaveSettings();
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
    before.c_cc[VMIN] = 3;
    before.c_cc[VTIME] = 7;
    ::cfsetispeed(&before, B2400);
    ::cfsetospeed(&before, B2400);
    ::tcsetattr(pty.Master(), TCSANOW, &before);
    before = pty.SlaveSettings();
    const auto same = [](const termios& a, const termios& b) {
        return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
               a.c_lflag == b.c_lflag && ::cfgetispeed(&a) == ::cfgetispeed(&b) &&
               ::cfgetospeed(&a) == ::cfgetospeed(&b) && a.c_cc[VMIN] == b.c_cc[VMIN] &&
               a.c_cc[VTIME] == b.c_cc[VTIME];
    };
    for (const int32_t baud : {115200, 12345 /* refused */}) {
        SCOPED_TRACE(baud);
        auto link = Link(baud);
        const bool opened = link->Open(0);
        EXPECT_EQ(opened, baud == 115200);
        if (opened) {
            EXPECT_FALSE(same(pty.SlaveSettings(), before)) << "the open made the line raw";
            EXPECT_TRUE(link->Write("bye", 3));
            link->Close();
        }
        EXPECT_TRUE(same(pty.SlaveSettings(), before));
    }
}

// Another program that waits for the port politely: it goes by the lock file, the exclusive
// mode and the advisory lock. Each try runs in a child of its own that keeps whatever it got.
class PoliteWaiter {
public:
    PoliteWaiter(std::string slavePath, int masterEnd) : device(std::move(slavePath)), master(masterEnd) {}

    // "held" when every claim on the device stopped it; else the claims it found free.
    std::string Try(int linkDescriptor) {
        const std::string path = device;
        const int theirs[] = {master, linkDescriptor};
        tries.push_back(std::make_unique<HolderProcess>("polite-waiter", [path, theirs] {
            for (const int fd : theirs)
                if (fd >= 0) ::close(fd); // inherited, not opened by this program
            std::string free;
            KUucpLock lock;
            KLockOwner owner;
            if (lock.Acquire(path, owner)) free += " lock file";
            new KUucpLock(std::move(lock)); // kept until the waiter is ended
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            int exclusive = 1;
            if (fd >= 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && !exclusive) free += " exclusive mode";
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) free += " advisory lock";
            return free.empty() ? std::string("held") : "free:" + free;
        }));
        return tries.back()->Said();
    }

private:
    const std::string device;
    const int master;
    std::vector<std::unique_ptr<HolderProcess>> tries;
};

// A receiver that never answers, so that the session detects through every rate; at each ping
// the waiter tries the port, and the line must be at the rate pinged.
class SilentReceiver : public KReceiver {
public:
    SilentReceiver(PoliteWaiter& polite, PtyPair& pair, std::vector<std::string>& log)
        : KReceiver(false), waiter(polite), pty(pair), seen(log) {}
    bool StopAllBroadcast(int32_t) override { return true; }
    bool Ping(int32_t) override {
        auto* serial = static_cast<KSerialComm*>(Link());
        speed_t wanted = B0;
        KTermiosSettings::SpeedFor(static_cast<uint32_t>(serial->BaudRate), wanted);
        const termios line = pty.SlaveSettings();
        seen.push_back("ping at " + std::to_string(serial->BaudRate) + ": " + waiter.Try(serial->port.handle) +
                       (::cfgetospeed(&line) == wanted ? "" : ", line at another rate"));
        return false;
    }
    bool ChangeBaud(int32_t) override { return true; }
    bool ScanTimeSpan(bool&, KGPSTime&, bool&, KGPSTime&, bool&) override { return false; }
    void Reset() override {}
    void OnDetach() override {}

private:
    PoliteWaiter& waiter;
    PtyPair& pty;
    std::vector<std::string>& seen;
};

// The link on the pseudo-terminal; a link that opens again lets the waiter try first.
class WatchedLink : public KSerialComm {
public:
    WatchedLink(PoliteWaiter& polite, std::vector<std::string>& log) : waiter(polite), seen(log) {}
    bool Open(int32_t mode) override {
        if (opens++ > 0) seen.push_back("reopen: " + waiter.Try(-1));
        return KSerialComm::Open(mode);
    }

private:
    PoliteWaiter& waiter;
    std::vector<std::string>& seen;
    int opens = 0;
};

// A session changes the rate many times while it detects; another program waiting for the port
// must not get it at any of them, and the session must not report the port busy.
TEST_F(SerialExclusive, ASessionKeepsThePortClaimedAcrossRateChanges) {
    PoliteWaiter waiter(pty.SlavePath(), pty.Master());
    std::vector<std::string> seen;
    KVirtualClock clock;
    KScopedClock scoped(clock);
    KBaudSession session;
    session.SetLinkFactory([&]() -> std::unique_ptr<KSerialComm> {
        auto link = std::make_unique<WatchedLink>(waiter, seen);
        link->DevicePath = pty.SlavePath();
        return link;
    });
    session.SetReceiverFactory([&](int32_t) -> std::unique_ptr<KReceiver> {
        return std::make_unique<SilentReceiver>(waiter, pty, seen);
    });
    // One ping at the wanted rate, then one at each rate of the table, and once more around.
    struct StopAfter {
        KBaudSession& session;
        const std::vector<std::string>& seen;
        size_t pings;
    } stopAfter{session, seen, 1 + 2 * 8};
    session.statusCallback = [](void* user, int32_t, int32_t, int32_t) {
        auto* stop = static_cast<StopAfter*>(user);
        if (stop->seen.size() >= stop->pings) stop->session.RequestStop();
    };
    session.statusUser = &stopAfter;
    ASSERT_TRUE(session.Start(0, 115200, 0, 7));
    for (int i = 0; i < 6000 && !session.WorkerEnded(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    session.Stop();

    ASSERT_GE(seen.size(), stopAfter.pings);
    std::vector<std::string> expected;
    for (const std::string& line : seen)
        expected.push_back(line.substr(0, line.find(':')) + ": held");
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(failures.Seen().empty()) << failures.Seen()[0].reason;
    EXPECT_FALSE(fs::exists(LockFile())) << "ours goes when the session ends";
}

// The drain before close is bounded in the process clock: tests run it in virtual time.
TEST(OutputDrain, WaitsForTheQueueToEmptyButNoLongerThanItsBound) {
    const struct {
        const char* what;
        int64_t emptyAtMs; // -1: never
        int64_t reported;  // what the queue reports while not empty
        bool drained;
        int64_t tookMs;
    } cases[] = {
        {"empty at once", 0, 10, true, 0},
        {"empties after 300 ms", 300, 64, true, 300},
        {"never empties", -1, 4096, false, 1000},
        {"cannot be asked", -1, -1, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KVirtualClock clock;
        KScopedClock scoped(clock);
        const auto pending = [&] {
            return c.emptyAtMs >= 0 && clock.NowMs() >= c.emptyAtMs ? int64_t{0} : c.reported;
        };
        EXPECT_EQ(KOutputDrain::WaitUntilSent(pending, 1000), c.drained);
        EXPECT_GE(clock.NowMs(), c.tookMs);
        EXPECT_LE(clock.NowMs(), c.tookMs + 5);
    }
}

// What a close waits for beyond the driver's queue: the written characters' time on the line.
TEST(OutputDrain, WireTimeCountsEveryBitOfEveryCharacterRoundedUp) {
    const struct {
        int64_t bytes, baud;
        int32_t bits;
        int64_t ms;
    } cases[] = {
        {60, 1200, 10, 500},   // 8N1
        {60, 1200, 12, 600},   // 8E2
        {1, 115200, 10, 1},    // a fraction of a millisecond counts whole
        {0, 9600, 10, 0},
        {10, 0, 10, 0},        // no rate: nothing to wait for
        {1000000, 1200, 10, 8333334},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KOutputDrain::WireMs(c.bytes, c.baud, c.bits), c.ms) << c.bytes << " at " << c.baud;
}

} // namespace
#endif
