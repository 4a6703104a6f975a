#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "comm/posix/KOpenDiagnosis.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A fake process table: <root>/<pid>/comm and <root>/<pid>/fd/<n> links.
class FakeProc {
public:
    void Process(int pid, const std::string& name, const std::vector<std::string>& open) {
        const fs::path dir = fs::path(root.Path()) / std::to_string(pid);
        fs::create_directories(dir / "fd");
        std::ofstream(dir / "comm") << name << "\n";
        int fd = 0;
        for (const std::string& target : open) fs::create_symlink(target, dir / "fd" / std::to_string(fd++));
    }
    const std::string& Root() const { return root.Path(); }

private:
    TempDir root{"velinor-proc"};
};

std::string UserName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? entry->pw_name : "$USER";
}

TEST(OpenDiagnosis, FindsEveryProcessHoldingTheDevice) {
    FakeProc proc;
    proc.Process(812, "gpsd", {"/dev/null", "/dev/ttyUSB0", "socket:[1234]"});
    proc.Process(42, "minicom", {"/dev/ttyUSB0"});
    proc.Process(77, "bash", {"/dev/ttyUSB1", "/dev/pts/0"});
    fs::create_directories(fs::path(proc.Root()) / "self" / "fd");
    fs::create_symlink("/dev/ttyUSB0", fs::path(proc.Root()) / "self" / "fd" / "3");  // not a pid
    fs::create_directories(fs::path(proc.Root()) / "900");                              // no fd folder

    const auto holders = KOpenDiagnosis::FindHolders(proc.Root(), "/dev/ttyUSB0");
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].pid, 42);
    EXPECT_EQ(holders[0].name, "minicom");
    EXPECT_EQ(holders[1].pid, 812);
    EXPECT_EQ(holders[1].name, "gpsd");
    EXPECT_TRUE(KOpenDiagnosis::FindHolders(proc.Root(), "/dev/ttyACM0").empty());
    EXPECT_TRUE(KOpenDiagnosis::FindHolders("/velinor/no/proc", "/dev/ttyUSB0").empty());
}

TEST(OpenDiagnosis, BusyNamesTheHolderAndHowToFreeThePort) {
    FakeProc proc;
    proc.Process(812, "gpsd", {"/dev/ttyUSB0"});
    KOpenError error;
    KOpenDiagnosis::DescribeOpenFailure(error, "/dev/ttyUSB0", EBUSY, proc.Root());
    EXPECT_EQ(error.kind, KOpenError::Busy);
    EXPECT_EQ(error.text, "COM Port Busy Or Not Installed");
    EXPECT_EQ(error.device, "/dev/ttyUSB0");
    EXPECT_EQ(error.osError, EBUSY);
    EXPECT_NE(error.reason.find("in use by gpsd (pid 812)"), std::string::npos) << error.reason;
    EXPECT_EQ(error.remedy, "stop gpsd and its socket (sudo systemctl stop gpsd.socket gpsd.service) and try again");

    proc.Process(900, "minicom", {"/dev/ttyUSB0"});
    KOpenDiagnosis::DescribeOpenFailure(error, "/dev/ttyUSB0", EWOULDBLOCK, proc.Root());
    EXPECT_EQ(error.osError, EBUSY) << "a lock that would block is a busy port";
    EXPECT_NE(error.reason.find("gpsd (pid 812) and minicom (pid 900)"), std::string::npos) << error.reason;
    EXPECT_EQ(error.remedy, "stop gpsd and its socket (sudo systemctl stop gpsd.socket gpsd.service); close minicom "
                            "and try again");

    KOpenDiagnosis::DescribeOpenFailure(error, "/dev/ttyACM3", EBUSY, proc.Root());
    EXPECT_NE(error.reason.find("in use by another program"), std::string::npos) << error.reason;
    EXPECT_FALSE(error.remedy.empty());
}

TEST(OpenDiagnosis, TheHolderOfAPseudoTerminalsMasterIsItsOtherEnd) {
    FakeProc proc;
    const auto master = [&](int pid, int fd, int index) {
        const fs::path dir = fs::path(proc.Root()) / std::to_string(pid);
        fs::create_directories(dir / "fdinfo");
        fs::create_symlink("/dev/ptmx", dir / "fd" / std::to_string(fd));
        std::ofstream(dir / "fdinfo" / std::to_string(fd)) << "pos:\t0\nflags:\t02\ntty-index:\t" << index << "\n";
    };
    proc.Process(10, "velinor", {"/dev/pts/7"});
    master(10, 5, 7);
    proc.Process(11, "socat", {"/dev/pts/7"});
    master(11, 5, 17);  // the master of another terminal
    proc.Process(12, "picocom", {"/dev/pts/7"});
    const auto holders = KOpenDiagnosis::FindHolders(proc.Root(), "/dev/pts/7");
    ASSERT_EQ(holders.size(), 3u);
    EXPECT_TRUE(holders[0].otherEnd);
    EXPECT_FALSE(holders[1].otherEnd);
    EXPECT_FALSE(holders[2].otherEnd);
}

TEST(OpenDiagnosis, HeldDevicesNameTheHoldersAndTheLockFile) {
    KOpenError error;
    KOpenDiagnosis::DescribeHeld(error, "/dev/ttyUSB0", {{4711, "ModemManager", false}}, "");
    EXPECT_EQ(error.kind, KOpenError::Busy);
    EXPECT_EQ(error.text, "COM Port Busy Or Not Installed");
    EXPECT_EQ(error.osError, EBUSY);
    EXPECT_NE(error.reason.find("/dev/ttyUSB0 is open in ModemManager (pid 4711)"), std::string::npos) << error.reason;
    EXPECT_NE(error.remedy.find("sudo systemctl stop ModemManager"), std::string::npos) << error.remedy;
    KOpenDiagnosis::DescribeHeld(error, "/dev/ttyUSB0", {{99, "brltty", false}}, "/run/lock/LCK..ttyUSB0");
    EXPECT_NE(error.reason.find("/dev/ttyUSB0 is locked by brltty (pid 99) (/run/lock/LCK..ttyUSB0)"),
              std::string::npos) << error.reason;
    EXPECT_NE(error.remedy.find("braille"), std::string::npos) << error.remedy;
}

TEST(OpenDiagnosis, MissingDevicesAreNotPresent) {
    for (int err : {ENOENT, ENODEV, ENXIO}) {
        KOpenError error;
        KOpenDiagnosis::DescribeOpenFailure(error, "/dev/ttyUSB3", err);
        EXPECT_EQ(error.kind, KOpenError::NotPresent) << err;
        EXPECT_EQ(error.text, "COM Port Busy Or Not Installed");
        EXPECT_EQ(error.osError, err);
        EXPECT_NE(error.reason.find("/dev/ttyUSB3 does not exist"), std::string::npos) << error.reason;
        EXPECT_NE(error.remedy.find("`velinor ports`"), std::string::npos) << error.remedy;
        EXPECT_NE(error.remedy.find("cable"), std::string::npos) << error.remedy;
    }
}

TEST(OpenDiagnosis, PermissionDeniedGivesTheGroupCommand) {
    TempDir dir;
    const std::string device = dir.File("ttyUSB0");
    std::ofstream(device) << "";
    const group* dialout = ::getgrnam("dialout");
    if (dialout && ::chown(device.c_str(), static_cast<uid_t>(-1), dialout->gr_gid) == 0) {
        ::chmod(device.c_str(), 0660);
        KOpenError error;
        KOpenDiagnosis::DescribeOpenFailure(error, device, EACCES);
        EXPECT_EQ(error.kind, KOpenError::Busy);
        EXPECT_EQ(error.osError, EACCES);
        EXPECT_NE(error.reason.find(device), std::string::npos) << error.reason;
        EXPECT_NE(error.remedy.find("sudo usermod -aG dialout " + UserName()), std::string::npos) << error.remedy;
    }
    // A device whose group could not help (root's, or without read and write) points at dialout.
    ::chmod(device.c_str(), 0600);
    EXPECT_EQ(KOpenDiagnosis::AccessGroup(device), "dialout");
    EXPECT_EQ(KOpenDiagnosis::AccessGroup("/velinor/no/device"), "dialout");
    KOpenError error;
    KOpenDiagnosis::DescribeOpenFailure(error, "/velinor/no/device", EPERM);
    EXPECT_NE(error.remedy.find("sudo usermod -aG dialout "), std::string::npos) << error.remedy;
}

TEST(OpenDiagnosis, TheDevicesOwnGroupWhenItGrantsAccess) {
    TempDir dir;
    const std::string device = dir.File("ttyS0");
    std::ofstream(device) << "";
    // Any group other than root's that this process may give the file.
    const gid_t gid = ::getegid() != 0 ? ::getegid() : 5;
    if (::chown(device.c_str(), static_cast<uid_t>(-1), gid) != 0) GTEST_SKIP() << "cannot change the group";
    const group* named = ::getgrgid(gid);
    if (!named) GTEST_SKIP() << "group " << gid << " has no name";
    const std::string name = named->gr_name;
    ::chmod(device.c_str(), 0660);
    EXPECT_EQ(KOpenDiagnosis::AccessGroup(device), name);
    ::chmod(device.c_str(), 0620);  // a terminal's usual mode: the group may only write
    EXPECT_EQ(KOpenDiagnosis::AccessGroup(device), "dialout");
}

TEST(OpenDiagnosis, OtherFailuresKeepTheSystemsWords) {
    KOpenError error;
    KOpenDiagnosis::DescribeOpenFailure(error, "/dev/ttyS4", EIO);
    EXPECT_EQ(error.kind, KOpenError::Busy);
    EXPECT_EQ(error.osError, EIO);
    EXPECT_FALSE(error.reason.empty());
    EXPECT_TRUE(error.remedy.empty());
}

TEST(OpenDiagnosis, SettingsFailuresCarryTheSettingsText) {
    KOpenError error;
    KOpenDiagnosis::DescribeSettingsFailure(error, "/dev/ttyUSB0", EINVAL, "the port does not support 921600 baud");
    EXPECT_EQ(error.kind, KOpenError::Settings);
    EXPECT_EQ(error.text, "Unable to initialize COM Port to requested settings");
    EXPECT_EQ(error.device, "/dev/ttyUSB0");
    EXPECT_EQ(error.osError, EINVAL);
    EXPECT_EQ(error.reason, "the port does not support 921600 baud");
    EXPECT_FALSE(error.remedy.empty());
    KOpenDiagnosis::DescribeSettingsFailure(error, "/dev/ttyUSB0", EIO, "");
    EXPECT_FALSE(error.reason.empty()) << "without details, the system's words";
}

} // namespace
#endif
