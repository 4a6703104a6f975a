#ifndef _WIN32
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/HolderProcess.h"
#include "comm/posix/KUucpLock.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Binary(int32_t pid) {
    return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
}

TEST(UucpLock, ReadsTheOwnerInTextAndInTheOldBinaryForm) {
    TempDir dir;
    const struct {
        std::string content;
        int owner;
    } cases[] = {{LockText(4242), 4242},
                 {"4242\n", 4242},
                 {"  77", 77},
                 {Binary(31337), 31337},
                 {"", 0},
                 {"abc\n", 0},
                 {"12ab\n", 0},
                 {LockText(0), 0},
                 {LockText(-5), 0},
                 {Binary(-1), 0},
                 {"99999999999\n", 0}};
    for (const auto& c : cases) {
        WriteFile(dir.File("LCK..ttyS0"), c.content);
        EXPECT_EQ(KUucpLock::ReadOwner(dir.File("LCK..ttyS0")), c.owner) << '"' << c.content << '"';
    }
    EXPECT_EQ(KUucpLock::ReadOwner(dir.File("LCK..none")), 0);
}

TEST(UucpLock, LiveOwnersAreRespectedAndLeftoversTakenOver) {
    HolderProcess live("lock-owner", [] { return std::string(); });
    const struct {
        const char* what;
        std::string content; // empty: no lock file
        bool taken;
        int owner;
    } cases[] = {
        {"no lock", "", true, 0},
        {"a dead owner", LockText(HolderProcess::DeadPid()), true, 0},
        {"a dead owner, binary", Binary(HolderProcess::DeadPid()), true, 0},
        {"this process (a pid reused)", LockText(::getpid()), true, 0},
        {"no owner readable", "garbage", true, 0},
        {"a live owner", LockText(live.Pid()), false, live.Pid()},
        {"a live owner, binary", Binary(live.Pid()), false, live.Pid()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string file = dir.File("LCK..ttyUSB0");
        if (!c.content.empty()) WriteFile(file, c.content);
        KUucpLock lock;
        int owner = -1;
        EXPECT_EQ(lock.Acquire("/dev/ttyUSB0", owner, dir.Path()), c.taken);
        EXPECT_EQ(owner, c.owner);
        EXPECT_EQ(lock.Held(), c.taken);
        if (c.taken) {
            EXPECT_EQ(lock.Path(), file);
            EXPECT_EQ(ReadWholeFile(file), LockText(::getpid()));
            EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_read,
                      fs::perms::others_read);
            lock.Release();
            EXPECT_FALSE(fs::exists(file)) << "ours goes at release";
        } else {
            EXPECT_EQ(ReadWholeFile(file), c.content) << "theirs is left alone";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()),
                  c.taken ? 0 : 1)
            << "no temporary file left";
    }
}

TEST(UucpLock, NamedAfterTheDeviceReleasedOnlyWhileOursAndNeverAFailure) {
    TempDir dir;
    fs::create_symlink("/dev/null", dir.File("usb-FTDI_FT232R_A1B2C3-if00-port0"));
    EXPECT_EQ(KUucpLock::FileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(KUucpLock::FileName(dir.File("usb-FTDI_FT232R_A1B2C3-if00-port0")), "LCK..null");

    KUucpLock lock;
    int owner = -1;
    EXPECT_TRUE(lock.Acquire("/dev/ttyUSB0", owner, "/velinor/no/lock/folder"))
        << "a folder we cannot write";
    EXPECT_FALSE(lock.Held());
    ASSERT_TRUE(lock.Acquire("/dev/ttyACM0", owner, dir.Path()));
    WriteFile(dir.File("LCK..ttyACM0"), LockText(1)); // taken over by someone who thought it stale
    lock.Release();
    EXPECT_EQ(ReadWholeFile(dir.File("LCK..ttyACM0")), LockText(1));
}

// Programs racing for one device: the lock is written aside and linked into place, so exactly
// one of them wins and the others see it as the live owner.
TEST(UucpLock, OfManyProgramsRacingExactlyOneWins) {
    TempDir dir;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    std::vector<std::unique_ptr<HolderProcess>> racers;
    for (int i = 0; i < 6; ++i) {
        racers.push_back(std::make_unique<HolderProcess>("lock-racer", [&] {
            ::close(go[1]);
            char c;
            while (::read(go[0], &c, 1) > 0) {
            }                      // everyone starts when the test closes its end
            static KUucpLock lock; // kept until the racer is ended
            int owner = 0;
            return std::string(lock.Acquire("/dev/ttyS0", owner, dir.Path()) ? "won" : "lost");
        }));
    }
    ::close(go[0]);
    ::close(go[1]);
    int won = 0;
    for (auto& racer : racers)
        won += racer->Said() == "won";
    EXPECT_EQ(won, 1);
    const int owner = KUucpLock::ReadOwner(dir.File("LCK..ttyS0"));
    EXPECT_TRUE(std::any_of(racers.begin(), racers.end(),
                            [&](auto& r) { return r->Pid() == owner && r->Said() == "won"; }));
}

} // namespace
#endif
