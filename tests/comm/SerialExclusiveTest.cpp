#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "support/HolderProcess.h"
#include "OpenFailureRecorder.h"
#include "support/PtyPair.h"
#include "comm/KSerialComm.h"
#include "comm/posix/KOutputDrain.h"
#include "comm/posix/KUucpLock.h"
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

} // namespace
#endif
