#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
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

// minicom's own form: the pid padded to ten, its name and the user's.
std::string MinicomText(int pid) {
    char text[64];
    std::snprintf(text, sizeof text, "%10d minicom %.20s\n", pid, "someone");
    return text;
}

TEST(UucpLock, ReadsTheOwnerAsTheConventionWritesIt) {
    TempDir dir;
    const struct {
        std::string content;
        int owner;
    } cases[] = {{LockText(4242), 4242},
                 {"4242\n", 4242},
                 {"  77", 77},
                 {MinicomText(4242), 4242},
                 {"      4242\r\n", 4242},
                 {"\t 4242 cu\n", 4242},
                 {"12ab\n", 12},
                 {Binary(31337), 31337},
                 {"", 0},
                 {"abc\n", 0},
                 {"minicom 4242\n", 0},
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

// A lock is taken over only when its owner is certainly not running; one whose owner cannot be
// told is respected like a live one.
TEST(UucpLock, OnlyLocksOfOwnersCertainlyGoneAreTakenOver) {
    HolderProcess live("lock-owner", [] { return std::string(); });
    const int dead = HolderProcess::DeadPid();
    const struct {
        const char* what;
        std::optional<std::string> content; // none: no lock file
        bool taken;
        KLockOwner::State state;
        int owner;
    } cases[] = {
        {"no lock", std::nullopt, true, KLockOwner::None, 0},
        {"a dead owner", LockText(dead), true, KLockOwner::None, 0},
        {"a dead owner, binary", Binary(dead), true, KLockOwner::None, 0},
        {"a dead minicom", MinicomText(dead), true, KLockOwner::None, 0},
        {"a pid no system hands out", "99999999999\n", true, KLockOwner::None, 0},
        {"this process (a pid reused)", LockText(::getpid()), true, KLockOwner::None, 0},
        {"a live owner", LockText(live.Pid()), false, KLockOwner::Live, live.Pid()},
        {"a live owner, binary", Binary(live.Pid()), false, KLockOwner::Live, live.Pid()},
        {"a live minicom", MinicomText(live.Pid()), false, KLockOwner::Live, live.Pid()},
        {"a live owner, CR LF", "  " + std::to_string(live.Pid()) + "\r\n", false, KLockOwner::Live, live.Pid()},
        {"no pid readable", "garbage", false, KLockOwner::Unknown, 0},
        {"empty (being written)", "", false, KLockOwner::Unknown, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string file = dir.File("LCK..ttyUSB0");
        if (c.content) WriteFile(file, *c.content);
        KUucpLock lock;
        KLockOwner owner{KLockOwner::Gone, -1};
        EXPECT_EQ(lock.Acquire("/dev/ttyUSB0", owner, dir.Path()), c.taken);
        EXPECT_EQ(owner.state, c.state);
        EXPECT_EQ(owner.pid, c.owner);
        EXPECT_EQ(lock.Held(), c.taken);
        if (c.taken) {
            EXPECT_EQ(lock.Path(), file);
            EXPECT_EQ(ReadWholeFile(file), LockText(::getpid()));
            EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_read,
                      fs::perms::others_read);
            lock.Release();
            EXPECT_FALSE(fs::exists(file)) << "ours goes at release";
        } else {
            EXPECT_EQ(ReadWholeFile(file), *c.content) << "theirs is left alone";
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
    KLockOwner owner;
    EXPECT_TRUE(lock.Acquire("/dev/ttyUSB0", owner, "/velinor/no/lock/folder"))
        << "a folder we cannot write";
    EXPECT_FALSE(lock.Held());
    ASSERT_TRUE(lock.Acquire("/dev/ttyACM0", owner, dir.Path()));
    WriteFile(dir.File("LCK..ttyACM0"), LockText(1)); // taken over by someone who thought it stale
    lock.Release();
    EXPECT_EQ(ReadWholeFile(dir.File("LCK..ttyACM0")), LockText(1));
}

// Racers that stay for many rounds: each round they all start at once, try the lock of one
// device, say whether they won, and keep what they won until every racer has said so.
class LockRace {
public:
    LockRace(int count, const std::string& folder) : lockFile(folder + "/LCK..ttyS0") {
        if (::pipe(start) != 0 || ::pipe(finish) != 0 || ::pipe(results) != 0) throw std::runtime_error("no pipe");
        for (int i = 0; i < count; ++i)
            racers.push_back(std::make_unique<HolderProcess>("lock-racer", [this, folder] { return Run(folder); }));
        ::close(start[0]);
        ::close(finish[0]);
        ::close(results[1]);
    }
    ~LockRace() {
        ::close(start[1]); // the racers see the end of the race
        ::close(finish[1]);
        ::close(results[0]);
    }

    struct Outcome {
        std::vector<pid_t> winners;
        int owner = 0; // whom the lock file named while the winners held it
    };
    // One round; no winners and a failure when the racers stop answering.
    Outcome Round() {
        const std::string go(racers.size(), 'g');
        Outcome outcome;
        if (::write(start[1], go.data(), go.size()) != static_cast<ssize_t>(go.size())) return {};
        for (size_t i = 0; i < racers.size(); ++i) {
            int32_t said[2];
            if (!Receive(said)) return {};
            if (said[1]) outcome.winners.push_back(said[0]);
        }
        outcome.owner = KUucpLock::ReadOwner(lockFile);
        if (::write(finish[1], go.data(), go.size()) != static_cast<ssize_t>(go.size())) return {};
        for (size_t i = 0; i < racers.size(); ++i) {
            int32_t said[2];
            if (!Receive(said)) return {};
        }
        return outcome;
    }

private:
    std::string Run(const std::string& folder) {
        ::close(start[1]);
        ::close(finish[1]);
        ::close(results[0]);
        char c = 0;
        while (::read(start[0], &c, 1) == 1) {
            KUucpLock lock;
            KLockOwner owner;
            const bool won = lock.Acquire("/dev/ttyS0", owner, folder) && lock.Held();
            const int32_t said[2] = {static_cast<int32_t>(::getpid()), won};
            if (::write(results[1], said, sizeof said) != sizeof said || ::read(finish[0], &c, 1) != 1) break;
            lock.Release();
            if (::write(results[1], said, sizeof said) != sizeof said) break;
        }
        return std::string();
    }
    bool Receive(int32_t (&said)[2]) {
        pollfd ready{results[0], POLLIN, 0};
        // Generous: a racer that does not answer within a minute is stuck, not slow.
        if (::poll(&ready, 1, 60000) != 1 || ::read(results[0], said, sizeof said) != sizeof said) {
            ADD_FAILURE() << "a racer stopped answering";
            return false;
        }
        return true;
    }

    const std::string lockFile;
    int start[2] = {-1, -1}, finish[2] = {-1, -1}, results[2] = {-1, -1};
    std::vector<std::unique_ptr<HolderProcess>> racers;
};

// Programs racing for one device, over a free lock and over a stale one left by a program that
// is gone: exactly one of them wins each time, and the lock names the winner.
TEST(UucpLock, OfManyProgramsRacingExactlyOneWinsEvenOverAStaleLock) {
    TempDir dir;
    const std::string file = dir.File("LCK..ttyS0");
    LockRace race(6, dir.Path());
    constexpr int kRounds = 300;
    pid_t dead = HolderProcess::DeadPid();
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (::kill(dead, 0) == 0 || errno != ESRCH) dead = HolderProcess::DeadPid(); // handed out again
        switch (round % 3) {
        case 0: break; // no lock
        case 1: WriteFile(file, LockText(dead)); break;
        case 2: WriteFile(file, MinicomText(dead)); break;
        }
        const LockRace::Outcome outcome = race.Round();
        EXPECT_EQ(outcome.winners.size(), 1u);
        if (outcome.winners.size() == 1) {
            EXPECT_EQ(outcome.owner, outcome.winners[0]);
        }
        EXPECT_FALSE(fs::exists(file)) << "the winner lets go at the end of the round";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 0)
        << "no lock or temporary file left";
}

// A program of ours in the middle of taking a stale lock over holds the lock folder's advisory
// lock; another that finds the same stale lock meanwhile must not remove it under the first
// one's feet. It waits its turn, and gives the port up after a bounded wait.
TEST(UucpLock, AStaleLockBeingTakenOverIsLeftToTheFirstTaker) {
    TempDir dir;
    const std::string file = dir.File("LCK..ttyS0");
    const std::string stale = LockText(HolderProcess::DeadPid());
    WriteFile(file, stale);
    const int folder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(folder, LOCK_EX), 0) << "the first taker's turn";
    HolderProcess second("lock-taker", [&] {
        KUucpLock lock;
        KLockOwner owner;
        return std::string(lock.Acquire("/dev/ttyS0", owner, dir.Path()) && lock.Held() ? "took it" : "left it");
    });
    EXPECT_EQ(second.Said(), "left it");
    EXPECT_EQ(ReadWholeFile(file), stale);
    ::close(folder);
}

// The system's lock folder may be written by everyone but has the sticky bit: only a lock's
// owner (or root) may remove it. Another user's lock that looks stale from here (its owner may
// live in another pid namespace) is refused, never skipped.
TEST(UucpLock, AnotherUsersLockInAStickyFolderIsRefusedNotSkipped) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to stage a second user's lock";
    constexpr uid_t kNobody = 65534, kOther = 1;
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 01777), 0);
    const std::string file = dir.File("LCK..ttyS1");
    const pid_t dead = HolderProcess::DeadPid();
    const struct {
        const char* what;
        uid_t owner;
        mode_t mode;
        std::string said;
    } cases[] = {
        {"its own stale lock", kNobody, 0644, "taken"},
        {"another user's stale lock", kOther, 0644, "refused: stuck, pid " + std::to_string(dead)},
        {"another user's lock it may not read", kOther, 0600, "refused: unknown, pid 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(file, LockText(dead));
        ASSERT_EQ(::chown(file.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        HolderProcess user("lock-user", [&] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                return std::string("no second user");
            KUucpLock lock;
            KLockOwner owner;
            if (lock.Acquire("/dev/ttyS1", owner, dir.Path())) return std::string(lock.Held() ? "taken" : "went on without");
            const char* state = owner.state == KLockOwner::Stuck ? "stuck" : owner.state == KLockOwner::Unknown ? "unknown" : "other";
            return "refused: " + std::string(state) + ", pid " + std::to_string(owner.pid);
        });
        EXPECT_EQ(user.Said(), c.said);
        const bool refused = c.said != "taken";
        if (refused) {
            EXPECT_EQ(ReadWholeFile(file), LockText(dead)) << "theirs is left alone";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), refused ? 1 : 0)
            << "no temporary file left";
        fs::remove(file);
    }
}

} // namespace
#endif
