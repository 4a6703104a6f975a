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

std::string ProgramName(const fs::path& processDir) {
    std::ifstream in(processDir / "comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? "an unnamed program" : name;
}

std::string UserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return "$USER";
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

std::vector<KDeviceHolder> FindHolders(const std::string& procRoot, const std::string& device) {
    std::error_code ec;
    fs::path wanted = fs::weakly_canonical(device, ec);
    if (ec) wanted = fs::path(device).lexically_normal();

    std::vector<KDeviceHolder> holders;
    fs::directory_iterator processes(procRoot, ec);
    for (; !ec && processes != fs::directory_iterator(); processes.increment(ec)) {
        int pid = 0;
        if (!ParsePid(processes->path().filename().string(), pid)) continue;
        std::error_code fdError;
        fs::directory_iterator fds(processes->path() / "fd", fdError);
        for (; !fdError && fds != fs::directory_iterator(); fds.increment(fdError)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fds->path(), linkError);
            if (linkError || target.lexically_normal() != wanted) continue;
            holders.push_back({pid, ProgramName(processes->path())});
            break;
        }
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
            error.remedy = holders.size() == 1 ? "close " + holders[0].name + " and try again"
                                               : "close those programs and try again";
        }
        break;
    }
    default:
        error.reason = osText;
        error.remedy.clear();
        break;
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
