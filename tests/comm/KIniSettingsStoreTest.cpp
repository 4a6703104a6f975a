#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "comm/KIniSettingsStore.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

int32_t ReadOr(KIniSettingsStore& store, const char* section, const char* key, int32_t defaultValue) {
    int32_t value = 0x5A5A5A5A;
    store.ReadInt(0, section, key, value, defaultValue);
    return value;
}

class IniStore : public ::testing::Test {
protected:
    TempDir dir{"velinor-ini"};
    std::string path = dir.File("Velinor.ini");
};

TEST_F(IniStore, MissingFileOrKeyGivesTheDefault) {
    KIniSettingsStore store(path);
    int32_t value = 0;
    EXPECT_FALSE(store.ReadInt(0, "BaudSet", "LastBaud", value, 9600));
    EXPECT_EQ(value, 9600);
    EXPECT_EQ(store.ReadString(0, "BaudSet", "LastBaud", "none"), "none");
    EXPECT_FALSE(fs::exists(path)) << "reading creates nothing";

    Put(path, "[BaudSet]\nLastRcvr=3\n");
    EXPECT_FALSE(store.ReadInt(0, "BaudSet", "LastBaud", value, 9600));
    EXPECT_EQ(value, 9600);
    EXPECT_FALSE(store.ReadInt(0, "Other", "LastRcvr", value, 2));
    EXPECT_EQ(value, 2);
    EXPECT_TRUE(store.ReadInt(0, "BaudSet", "LastRcvr", value, 2));
    EXPECT_EQ(value, 3);
}

TEST_F(IniStore, WriteCreatesTheFileAndTheSection) {
    KIniSettingsStore store(path);
    store.WriteInt(0, "BaudSet", "LastRcvr", 11);
    store.WriteInt(0, "BaudSet", "LastPort", 2);
    store.WriteInt(0, "BaudSet", "LastBaud", 115200);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastRcvr", 0), 11);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastPort", 0), 2);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastBaud", 0), 115200);
    const std::string text = ReadWholeFile(path);
    const size_t section = text.find("[BaudSet]");
    ASSERT_NE(section, std::string::npos) << text;
    const size_t rcvr = text.find("LastRcvr=11");
    const size_t port = text.find("LastPort=2");
    const size_t baud = text.find("LastBaud=115200");
    ASSERT_NE(baud, std::string::npos) << text;
    EXPECT_LT(section, rcvr);
    EXPECT_LT(rcvr, port);
    EXPECT_LT(port, baud);
    EXPECT_EQ(text.find("[BaudSet]", section + 1), std::string::npos) << "one section only";
}

TEST_F(IniStore, WriteKeepsEverythingElseInItsOrder) {
    Put(path,
        "[First]\n"
        "x=1\n"
        "y=2\n"
        "\n"
        "[BaudSet]\n"
        "LastRcvr=3\n"
        "; chosen by hand\n"
        "LastPort=1\n"
        "\n"
        "[Last]\n"
        "k=v\n");
    KIniSettingsStore store(path);
    store.WriteInt(0, "BaudSet", "LastPort", 5);
    store.WriteInt(0, "BaudSet", "LastBaud", 19200);
    store.WriteString(0, "Fresh", "Key", "value");

    EXPECT_EQ(ReadOr(store, "First", "x", 0), 1);
    EXPECT_EQ(ReadOr(store, "First", "y", 0), 2);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastRcvr", 0), 3);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastPort", 0), 5);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastBaud", 0), 19200);
    EXPECT_EQ(store.ReadString(0, "Last", "k", ""), "v");
    EXPECT_EQ(store.ReadString(0, "Fresh", "Key", ""), "value");

    const std::string text = ReadWholeFile(path);
    const std::vector<std::string> inOrder = {"[First]",    "x=1",        "y=2",           "[BaudSet]",
                                              "LastRcvr=3", "; chosen by hand", "LastPort=5", "LastBaud=19200",
                                              "[Last]",     "k=v",        "[Fresh]",       "Key=value"};
    size_t at = 0;
    for (const std::string& piece : inOrder) {
        const size_t found = text.find(piece, at);
        ASSERT_NE(found, std::string::npos) << piece << " after " << at << " in\n" << text;
        at = found + piece.size();
    }
    EXPECT_EQ(text.find("LastPort=1"), std::string::npos);
}

TEST_F(IniStore, NamesCompareWithoutRegardToCase) {
    Put(path, "[baudset]\nlastbaud=4800\n");
    KIniSettingsStore store(path);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastBaud", 0), 4800);
    EXPECT_EQ(ReadOr(store, "BAUDSET", "LASTBAUD", 0), 4800);
    store.WriteInt(0, "BAUDSET", "LASTBAUD", 57600);
    EXPECT_EQ(ReadOr(store, "baudset", "lastbaud", 0), 57600);
    std::string text = ReadWholeFile(path);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(text.find("lastbaud"), text.rfind("lastbaud")) << "the key was updated, not added again:\n" << text;
    EXPECT_EQ(text.find("[baudset]"), text.rfind("[baudset]")) << text;
}

TEST_F(IniStore, ValuesAreTrimmedAndCommentsIgnored) {
    Put(path,
        "[BaudSet]\n"
        ";LastRcvr=9\n"
        "  LastBaud   =   57600   \n"
        "Name =   two words  \n"
        "Quoted=\"  kept  \"\n"
        "Number=\"12\"\n");
    KIniSettingsStore store(path);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastRcvr", 2), 2);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastBaud", 0), 57600);
    EXPECT_EQ(store.ReadString(0, "BaudSet", "Name", ""), "two words");
    EXPECT_EQ(store.ReadString(0, "BaudSet", "Quoted", ""), "  kept  ");
    EXPECT_EQ(ReadOr(store, "BaudSet", "Number", 0), 12);
}

TEST_F(IniStore, NumbersReadLikeGetPrivateProfileInt) {
    Put(path,
        "[N]\n"
        "a=12abc\n"
        "b= -3\n"
        "c=x\n"
        "d=\n"
        "e=   \n"
        "f=4294967297\n"
        "g=2147483648\n"
        "h=-2147483649\n"
        "i=+8\n");
    KIniSettingsStore store(path);
    EXPECT_EQ(ReadOr(store, "N", "a", 99), 12);
    EXPECT_EQ(ReadOr(store, "N", "b", 99), -3);
    EXPECT_EQ(ReadOr(store, "N", "c", 99), 0);
    EXPECT_EQ(ReadOr(store, "N", "d", 99), 99) << "an empty value is the default";
    EXPECT_EQ(ReadOr(store, "N", "e", 99), 99);
    EXPECT_EQ(ReadOr(store, "N", "f", 99), 1);
    EXPECT_EQ(ReadOr(store, "N", "g", 99), INT32_MIN);
    EXPECT_EQ(ReadOr(store, "N", "h", 99), INT32_MAX);
    EXPECT_EQ(ReadOr(store, "N", "i", 99), 8);
    EXPECT_EQ(ReadOr(store, "N", "missing", -7), -7);
}

TEST_F(IniStore, NegativeAndExtremeValuesRoundTrip) {
    KIniSettingsStore store(path);
    for (int32_t value : {0, -1, INT32_MIN, INT32_MAX, 78}) {
        store.WriteInt(0, "S", "K", value);
        EXPECT_EQ(ReadOr(store, "S", "K", 5), value);
    }
}

TEST_F(IniStore, WindowsLineEndsAreReadAndKept) {
    Put(path, "[BaudSet]\r\nLastRcvr=4\r\nLastPort=1\r\n");
    KIniSettingsStore store(path);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastRcvr", 0), 4);
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastPort", 0), 1);
    store.WriteInt(0, "BaudSet", "LastPort", 6);
    const std::string text = ReadWholeFile(path);
    EXPECT_NE(text.find("LastRcvr=4\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("LastPort=6\r\n"), std::string::npos) << text;
}

TEST_F(IniStore, WritesFromSeveralThreadsAreNotLost) {
    KIniSettingsStore store(path);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&store, t] {
            for (int k = 0; k < 15; ++k) {
                const std::string key = "K" + std::to_string(t) + "_" + std::to_string(k);
                store.WriteInt(0, "Threads", key.c_str(), t * 100 + k);
            }
        });
    for (std::thread& writer : writers) writer.join();
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 15; ++k) {
            const std::string key = "K" + std::to_string(t) + "_" + std::to_string(k);
            EXPECT_EQ(ReadOr(store, "Threads", key.c_str(), -1), t * 100 + k) << key;
        }
}

TEST_F(IniStore, AnUnwritablePathChangesNothingAndTheStoreKnows) {
    std::ofstream(dir.File("plain")) << "a file, not a folder";
    for (const std::string& bad : {dir.File("no-such-folder/Velinor.ini"), dir.File("plain/Velinor.ini")}) {
        KIniSettingsStore store(bad);
        EXPECT_FALSE(store.WriteFailed());
        store.WriteInt(0, "BaudSet", "LastBaud", 4800);
        EXPECT_EQ(ReadOr(store, "BaudSet", "LastBaud", 9600), 9600) << bad;
        EXPECT_TRUE(store.WriteFailed()) << bad;
    }
    EXPECT_EQ(ReadWholeFile(dir.File("plain")), "a file, not a folder");
    KIniSettingsStore good(path);
    good.WriteInt(0, "BaudSet", "LastBaud", 4800);
    good.WriteString(0, "BaudSet", "LastDevice", "COM3");
    EXPECT_FALSE(good.WriteFailed());
}

#ifndef _WIN32
TEST_F(IniStore, AReadOnlyFileIsLeftAlone) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
    Put(path, "[BaudSet]\nLastBaud=4800\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    KIniSettingsStore store(path);
    store.WriteInt(0, "BaudSet", "LastBaud", 9600);
    EXPECT_EQ(ReadWholeFile(path), "[BaudSet]\nLastBaud=4800\n");
    EXPECT_TRUE(store.WriteFailed());
}

TEST_F(IniStore, AWriteThatFailsHalfwayLosesNothing) {
    const std::string original = "[Keep]\n" + std::string(200, 'k') + "=1\n[BaudSet]\nLastBaud=4800\n";
    Put(path, original);
    // Files may not grow past 64 bytes for a moment: the new text cannot be written in full.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    {
        KIniSettingsStore store(path);
        store.WriteInt(0, "BaudSet", "LastBaud", 115200);
        EXPECT_TRUE(store.WriteFailed());
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(ReadWholeFile(path), original);
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename(), "Velinor.ini") << "a half-written file was left behind";
}

// ---------------------------------------------------------------------------------------------
// The file written stays the user's file

// Root writes anywhere, which would hide what a user meets: run as root, the write happens in a
// child process as "nobody".
constexpr uid_t kNobody = 65534;
uid_t WriterId() { return ::geteuid() == 0 ? kNobody : ::geteuid(); }

bool WriteAsUser(const std::string& path) {
    const bool root = ::geteuid() == 0;
    const pid_t child = root ? ::fork() : 0;
    if (child == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(2);
        KIniSettingsStore(path).WriteInt(0, "BaudSet", "LastBaud", 9600);
        if (!root) return true;
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct KeepCase {
    const char* name;
    mode_t mode;
    bool ownedByRoot;  // the writer may write it through its group only
    bool folderReadOnly, hardLinked, sameFile;
};

class IniKeeps : public IniStore, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(IniKeeps, OwnerGroupPermissionsAndNamesStay) {
    const KeepCase& c = GetParam();
    if (c.ownedByRoot && ::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    Put(path, "[BaudSet]\nLastBaud=4800\n");
    const gid_t group = ::geteuid() == 0 ? kNobody : ::getegid();
    ASSERT_EQ(::chown(path.c_str(), c.ownedByRoot ? 0 : WriterId(), group), 0);
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    if (c.hardLinked) fs::create_hard_link(path, dir.File("other.ini"));
    ASSERT_EQ(::chown(dir.Path().c_str(), WriterId(), group), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), c.folderReadOnly ? 0555 : 0755), 0);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    EXPECT_TRUE(WriteAsUser(path));
    ::chmod(dir.Path().c_str(), 0755);

    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_EQ(ReadWholeFile(path), "[BaudSet]\nLastBaud=9600\n");
    EXPECT_EQ(after.st_mode & 07777, c.mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_ino == before.st_ino, c.sameFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), c.hardLinked ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Files, IniKeeps,
                         ::testing::Values(KeepCase{"private", 0600, false, false, false, false},
                                           KeepCase{"group_readable", 0640, false, false, false, false},
                                           KeepCase{"read_only_folder", 0604, false, true, false, true},
                                           KeepCase{"shared_through_its_group", 0660, true, false, false, true},
                                           KeepCase{"hard_linked", 0644, false, false, true, true}),
                         [](const ::testing::TestParamInfo<KeepCase>& row) { return std::string(row.param.name); });

TEST_F(IniStore, OnlyTheUsersOwnLinkToAFileIsWrittenThrough) {
    // A link of someone else's or to nowhere (it would create a file of the planter's choosing)
    // and a FIFO (it would block) are left as they stand, and so is the file they point at.
    enum Plant { OwnLink, OthersLink, LinkToNowhere, Fifo };
    const std::string real = dir.File("real.ini");
    for (const Plant plant : {OwnLink, OthersLink, LinkToNowhere, Fifo}) {
        SCOPED_TRACE(plant);
        if (plant == OthersLink && ::geteuid() != 0) continue;  // needs a second user
        fs::remove(path);
        Put(real, "[BaudSet]\nLastBaud=4800\n");
        if (plant == LinkToNowhere) fs::remove(real);
        if (plant == Fifo) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else {
            fs::create_symlink(real, path);
        }
        if (plant == OthersLink) {
            ASSERT_EQ(::lchown(path.c_str(), kNobody, static_cast<gid_t>(-1)), 0);
        }

        KIniSettingsStore(path).WriteInt(0, "BaudSet", "LastBaud", 9600);

        EXPECT_EQ(fs::symlink_status(path).type(), plant == Fifo ? fs::file_type::fifo : fs::file_type::symlink);
        EXPECT_EQ(fs::exists(real), plant != LinkToNowhere);
        if (plant != LinkToNowhere) {
            EXPECT_EQ(ReadWholeFile(real), plant == OwnLink ? "[BaudSet]\nLastBaud=9600\n" : "[BaudSet]\nLastBaud=4800\n");
        }
    }
}

TEST_F(IniStore, AnUnreadableFileIsNotReplaced) {
    fs::create_directory(path);  // reading a folder fails; writing must not clobber it either
    KIniSettingsStore store(path);
    store.WriteInt(0, "BaudSet", "LastBaud", 9600);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(ReadOr(store, "BaudSet", "LastBaud", 1), 1);
    EXPECT_TRUE(store.WriteFailed());
}
#endif

} // namespace
