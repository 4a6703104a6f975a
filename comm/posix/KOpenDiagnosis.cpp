#include "comm/posix/KOpenDiagnosis.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kNotInstalled = "COM Port Busy Or Not Installed";
constexpr const char* kBadSettings = "Unable to initialize COM Port to requested settings";

std::string ErrorText(int err) {
    char buffer[256] = "";
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return ::strerror_r(err, buffer, sizeof buffer);  // the GNU variant returns the text
#else
    if (::strerror_r(err, buffer, sizeof buffer) != 0) return "error " + std::to_string(err);
    return buffer;
#endif
}

bool ParsePid(const std::string& text, int& pid) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, pid);
    return ec == std::errc() && ptr == end && pid > 0;
}

// The number N of /dev/pts/N, or -1 for anything that is not a pseudo-terminal's slave.
int PtyIndex(const fs::path& device) {
    if (device.parent_path() != "/dev/pts") return -1;
    const std::string name = device.filename().string();
    int index = -1;
    const auto [ptr, ec] = std::from_chars(name.data(), name.data() + name.size(), index);
    return ec == std::errc() && ptr == name.data() + name.size() && !name.empty() ? index : -1;
}

// Whether descriptor `fd` of a process is the master of pseudo-terminal `index`: the master
// side is /dev/ptmx for every terminal, and only its fdinfo says which one.
bool IsMasterOf(const fs::path& processDir, const fs::path& fd, const fs::path& target, int index) {
    if (index < 0 || (target != "/dev/ptmx" && target != "/dev/pts/ptmx")) return false;
    std::ifstream in(processDir / "fdinfo" / fd.filename());
    const std::string wanted = "tty-index:\t" + std::to_string(index);
    for (std::string line; std::getline(in, line);)
        if (line == wanted) return true;
    return false;
}

// What to do about a program that holds a serial device, for the ones known to do so.
std::string RemedyFor(const std::string& name) {
    if (name == "ModemManager")
        return "stop ModemManager probing the device (sudo systemctl stop ModemManager, or a udev "
               "rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\" for the adapter)";
    if (name == "gpsd")
        return "stop gpsd and its socket (sudo systemctl stop gpsd.socket gpsd.service)";
    if (name == "brltty")
        return "stop the braille display daemon (sudo systemctl stop brltty-udev.service "
               "brltty.service), or remove brltty when no braille display is used";
    return "close " + name;
}

std::string RemedyFor(const std::vector<KOpenDiagnosis::KDeviceHolder>& holders) {
    std::string text;
    for (const auto& holder : holders) {
        const std::string step = RemedyFor(holder.name);
        if (text.find(step) != std::string::npos) continue;
        text += (text.empty() ? "" : "; ") + step;
    }
    return text + " and try again";
}

std::string UserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return "$USER";
}

// The name of the user who owns `path`, or its number.
std::string OwnerName(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return "another user";
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(info.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return "user " + std::string(found->pw_name);
    return "user " + std::to_string(info.st_uid);
}

std::string HoldersText(const std::vector<KOpenDiagnosis::KDeviceHolder>& holders) {
    std::string text;
    for (size_t i = 0; i < holders.size(); ++i) {
        if (i > 0) text += i + 1 == holders.size() ? " and " : ", ";
        text += holders[i].name + " (pid " + std::to_string(holders[i].pid) + ")";
        if (holders[i].pid == ::getpid()) text += ", this program";
    }
    return text;
}

} // namespace

namespace KOpenDiagnosis {

std::string ProgramName(const std::string& procRoot, int pid) {
    // A program names itself as it likes, line breaks and escape sequences included: the name is
    // taken whole (the kernel ends it with one newline) and escaped where it is printed.
    std::ifstream in(fs::path(procRoot) / std::to_string(pid) / "comm", std::ios::binary);
    std::string name(64, '\0');
    in.read(name.data(), static_cast<std::streamsize>(name.size()));
    name.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    if (!name.empty() && name.back() == '\n') name.pop_back();
    return name.empty() ? "an unnamed program" : name;
}

std::vector<KDeviceHolder> FindHolders(const std::string& procRoot, const std::string& device) {
    std::error_code ec;
    fs::path wanted = fs::weakly_canonical(device, ec);
    if (ec) wanted = fs::path(device).lexically_normal();

    const int ptyIndex = PtyIndex(wanted);

    std::vector<KDeviceHolder> holders;
    fs::directory_iterator processes(procRoot, ec);
    for (; !ec && processes != fs::directory_iterator(); processes.increment(ec)) {
        int pid = 0;
        if (!ParsePid(processes->path().filename().string(), pid)) continue;
        bool holds = false;
        bool peer = false;
        std::error_code fdError;
        fs::directory_iterator fds(processes->path() / "fd", fdError);
        for (; !fdError && fds != fs::directory_iterator(); fds.increment(fdError)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fds->path(), linkError);
            if (linkError) continue;
            if (IsMasterOf(processes->path(), fds->path(), target, ptyIndex))
                peer = true;
            else if (target.lexically_normal() == wanted)
                holds = true;
            if (holds && (peer || ptyIndex < 0)) break;
        }
        if (holds) holders.push_back({pid, ProgramName(procRoot, pid), peer});
    }
    std::sort(holders.begin(), holders.end(),
              [](const KDeviceHolder& a, const KDeviceHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string AccessGroup(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) == 0 && info.st_gid != 0 &&
        (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        std::vector<char> buffer(16384);
        group entry{};
        group* found = nullptr;
        if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            return found->gr_name;
    }
    return "dialout";
}

void DescribeOpenFailure(KOpenError& error, const std::string& device, int err,
                         const std::string& procRoot) {
    error.text = kNotInstalled;
    error.device = device;
    error.osError = err;
    error.kind = KOpenError::Busy;
    const std::string osText = ErrorText(err);
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        error.kind = KOpenError::NotPresent;
        error.reason = osText + ": " + device + " does not exist (or has no hardware behind it)";
        error.remedy = "check the cable and the adapter, and see `velinor ports` for the ports present";
        break;
    case ENOTTY:
        error.kind = KOpenError::NotPresent;
        error.reason = device + " is not a serial device (it is not a terminal)";
        error.remedy = "choose a serial port; `velinor ports` lists them";
        break;
    case EACCES:
    case EPERM: {
        const std::string group = AccessGroup(device);
        error.reason = osText + ": you may not read and write " + device;
        error.remedy = "add yourself to the " + group + " group: sudo usermod -aG " + group + " " +
                       UserName() + " (then log out and back in)";
        break;
    }
    case EBUSY:
    case EWOULDBLOCK: {
        error.osError = EBUSY;
        const std::vector<KDeviceHolder> holders = FindHolders(procRoot, device);
        if (holders.empty()) {
            error.reason = ErrorText(EBUSY) + ": " + device + " is in use by another program";
            error.remedy = "close the program that uses the port and try again";
        } else {
            error.reason = ErrorText(EBUSY) + ": " + device + " is in use by " + HoldersText(holders);
            error.remedy = RemedyFor(holders);
        }
        break;
    }
    default:
        error.reason = osText;
        error.remedy.clear();
        break;
    }
}

void DescribeHeld(KOpenError& error, const std::string& device, const std::vector<KDeviceHolder>& holders,
                  const std::string& lockFile) {
    error.kind = KOpenError::Busy;
    error.text = kNotInstalled;
    error.device = device;
    error.osError = EBUSY;
    error.reason = ErrorText(EBUSY) + ": " + device +
                   (lockFile.empty() ? " is open in " + HoldersText(holders)
                                     : " is locked by " + HoldersText(holders) + " (" + lockFile + ")");
    error.remedy = RemedyFor(holders);
}

void DescribeLocked(KOpenError& error, const std::string& device, const KLockOwner& owner,
                    const std::string& lockFile, const std::string& procRoot) {
    if (owner.state == KLockOwner::Live) {
        DescribeHeld(error, device, {{owner.pid, ProgramName(procRoot, owner.pid), false}}, lockFile);
        return;
    }
    error.kind = KOpenError::Busy;
    error.text = kNotInstalled;
    error.device = device;
    error.osError = EBUSY;
    const std::string busy = ErrorText(EBUSY) + ": " + device;
    if (owner.state == KLockOwner::Stuck) {
        const std::string user = OwnerName(lockFile);
        error.reason = busy + " is locked by pid " + std::to_string(owner.pid) + " of " + user + " (" + lockFile +
                       "): no such process runs here, but the lock is not yours to remove";
        error.remedy = "if no program of " + user + " uses the port, ask them or the administrator to remove " +
                       lockFile + ", and try again";
    } else {
        error.reason = busy + " is locked (" + lockFile + "), and who holds the lock cannot be told";
        error.remedy = "close the program that uses the port; if none does, remove " + lockFile + " and try again";
    }
}

void DescribeSettingsFailure(KOpenError& error, const std::string& device, int err,
                             const std::string& what) {
    error.kind = KOpenError::Settings;
    error.text = kBadSettings;
    error.device = device;
    error.osError = err;
    error.reason = what.empty() ? ErrorText(err) : what;
    error.remedy = "choose a rate and framing that the port supports";
}

} // namespace KOpenDiagnosis
