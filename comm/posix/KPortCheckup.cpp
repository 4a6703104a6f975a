#include "comm/KPortCheckup.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "comm/KOpenError.h"
#include "comm/posix/KOpenDiagnosis.h"
#include "comm/posix/KUucpLock.h"

namespace fs = std::filesystem;

namespace {

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->gr_name;
    return std::to_string(gid);
}

std::string UserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->pw_name;
    return "$USER";
}

// Whether the user is listed in group `gid` in the group database (which a running login only
// picks up when the user logs in again).
bool ListedInGroup(gid_t gid) {
    std::vector<char> buffer(65536);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
    const std::string user = UserName();
    for (char** member = found->gr_mem; member && *member; ++member)
        if (user == *member) return true;
    return false;
}

std::string ModeText(mode_t mode) {
    std::string text = "---------";
    const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (size_t i = 0; i < 9; ++i)
        if (mode & bits[i]) text[i] = "rwx"[i % 3];
    return text;
}

KPortFinding Permission(const std::string& device, const struct stat& info) {
    if (::access(device.c_str(), R_OK | W_OK) == 0)
        return {KPortFinding::Ok, "permission", "you may read and write " + device, ""};
    const std::string owner = GroupName(info.st_gid);
    KPortFinding finding{KPortFinding::Problem, "permission",
                         "you may not read and write " + device + " (" + ModeText(info.st_mode) + ", group " + owner + ")",
                         ""};
    if (info.st_gid == 0 || !(info.st_mode & S_IRGRP) || !(info.st_mode & S_IWGRP))
        finding.remedy = "the device is not open to a group: ask the administrator for a udev rule that gives it "
                         "to the dialout group (MODE=\"0660\", GROUP=\"dialout\")";
    else if (ListedInGroup(info.st_gid))
        finding.remedy = "you were added to the " + owner + " group, but this login does not have it yet: log out "
                         "and back in (or start a shell with it: newgrp " + owner + ")";
    else
        finding.remedy = "add yourself to the " + owner + " group: sudo usermod -aG " + owner + " " + UserName() +
                         " (then log out and back in)";
    return finding;
}

KPortFinding Holders(const std::string& device, const std::string& procRoot) {
    std::vector<KOpenDiagnosis::KDeviceHolder> holders;
    for (const auto& holder : KOpenDiagnosis::FindHolders(procRoot, device))
        if (!holder.otherEnd && holder.pid != ::getpid()) holders.push_back(holder);
    KOpenError error;
    if (holders.empty()) {
        // The conventional lock file of serial programs: a live owner holds the device even with
        // the device closed for a moment, and a lock whose owner cannot be told is not stale.
        const std::string path = KUucpLock::Folder() + "/" + KUucpLock::FileName(device);
        const KLockOwner owner = KUucpLock::Inspect(path);
        const bool ours = owner.state == KLockOwner::Live && owner.pid == ::getpid();
        if (ours || owner.state == KLockOwner::None || owner.state == KLockOwner::Gone)
            return {KPortFinding::Ok, "holders", "no other program has " + device + " open or locked", ""};
        KOpenDiagnosis::DescribeLocked(error, device, owner, path, procRoot);
    } else {
        KOpenDiagnosis::DescribeHeld(error, device, holders, "");
    }
    return {KPortFinding::Problem, "holders", error.reason, error.remedy};
}

// Terminal drivers ("ttyS", "ttyUSB", "ttyACM", "ttyAMA", "pts", "rfcomm", ...) are what a
// serial link can open; anything else ("mem", "misc", "/dev/ptmx", ...) is not a serial device.
bool IsTerminalDriver(const std::string& driver) {
    return driver.rfind("tty", 0) == 0 || driver == "pts" || driver == "rfcomm";
}

// The driver of character-device major number `major` as the process table's list of drivers
// names it. Several drivers can share a major ("/dev/vc/0", "tty" and "ttyS" share 4): a
// terminal driver is preferred, the most specific one ("ttyS" over "tty"). Empty when the list
// cannot be read or does not have the major.
std::string DriverOfMajor(const std::string& procRoot, unsigned major) {
    std::ifstream in(fs::path(procRoot) / "devices");
    bool characterDevices = false;
    std::string best;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        if (line.back() == ':') {
            characterDevices = line == "Character devices:";
            continue;
        }
        if (!characterDevices) continue;
        const size_t start = line.find_first_not_of(' ');
        const size_t space = line.find(' ', start);
        if (start == std::string::npos || space == std::string::npos) continue;
        if (line.compare(start, space - start, std::to_string(major)) != 0) continue;
        const std::string name = line.substr(space + 1);
        const bool better = best.empty() || (IsTerminalDriver(name) && (!IsTerminalDriver(best) || name.size() > best.size()));
        if (better) best = name;
    }
    return best;
}

bool ParsePid(const std::string& text, int& pid) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
    return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

} // namespace

namespace KPortCheckup {

std::vector<KPortFinding> CheckDevice(const std::string& device, const KPortInfo& info, const std::string& procRoot) {
    std::vector<KPortFinding> findings;
    struct stat status {};
    if (::stat(device.c_str(), &status) != 0) {
        findings.push_back({KPortFinding::Problem, "device", device + " does not exist",
                            "check that the adapter is plugged in and the cable is seated; the ports present are "
                            "listed below and by 'velinor ports'"});
        return findings;
    }
    const std::string driver = S_ISCHR(status.st_mode) ? DriverOfMajor(procRoot, major(status.st_rdev)) : "";
    if (!S_ISCHR(status.st_mode) || (!driver.empty() && !IsTerminalDriver(driver))) {
        findings.push_back({KPortFinding::Problem, "device",
                            device + " is not a serial device (" +
                                (S_ISCHR(status.st_mode) ? "its driver is " + driver : "not a character device") + ")",
                            "choose a serial port: 'velinor ports' lists them"});
        return findings;
    }
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    findings.push_back({KPortFinding::Ok, "device",
                        device + " exists" + (!ec && real.string() != device ? " (" + real.string() + ")" : "") +
                            (driver.empty() ? "" : ", a " + driver + " device"),
                        ""});
    findings.push_back(Permission(device, status));
    findings.push_back(Holders(device, procRoot));
    if (!info.adapter.Empty())
        findings.push_back({KPortFinding::Ok, "adapter", info.adapter.Describe(), ""});
    if (!info.stableName.empty() && info.stableName != device)
        findings.push_back({KPortFinding::Note, "stable name", "the adapter's stable name is " + info.stableName,
                            "name the port by it (--port " + info.stableName +
                                "): it follows the adapter whatever order the adapters enumerate in"});
    return findings;
}

std::vector<KPortFinding> CheckSystem(const std::string& procRoot) {
    struct Prober {
        const char* program;
        const char* what;
        const char* remedy;
    };
    static const Prober probers[] = {
        {"ModemManager", "ModemManager is running: it opens serial devices as they appear and sends them modem "
                         "commands for some seconds, which a receiver may take for input",
         "stop it while you work with the receiver (sudo systemctl stop ModemManager), or keep it off the adapter "
         "with a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\" for the adapter's vendor and product id"},
        {"brltty", "brltty (the braille display daemon) is running: it takes some USB serial adapters (CH340/CH341 "
                   "among them) for a braille display and holds them",
         "sudo systemctl stop brltty-udev.service brltty.service, or remove brltty when no braille display is used"},
        {"gpsd", "gpsd is running: it opens the GNSS devices it is told of, or that udev hands it, and reads them",
         "stop gpsd and its socket while you work with the receiver (sudo systemctl stop gpsd.socket gpsd.service)"},
    };
    std::vector<bool> running(std::size(probers), false);
    std::error_code ec;
    for (fs::directory_iterator it(procRoot, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        int pid = 0;
        if (!ParsePid(it->path().filename().string(), pid)) continue;
        std::ifstream in(it->path() / "comm");
        std::string name;
        std::getline(in, name);
        for (size_t i = 0; i < std::size(probers); ++i)
            if (name == probers[i].program) running[i] = true;
    }
    std::vector<KPortFinding> findings;
    for (size_t i = 0; i < std::size(probers); ++i)
        if (running[i]) findings.push_back({KPortFinding::Note, "prober", probers[i].what, probers[i].remedy});
    if (findings.empty())
        findings.push_back({KPortFinding::Ok, "prober", "no modem manager, braille daemon or gpsd is running", ""});
    return findings;
}

} // namespace KPortCheckup
