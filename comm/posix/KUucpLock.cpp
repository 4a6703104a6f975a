#include "comm/posix/KUucpLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr int kMaxPid = 1 << 22;

bool Alive(int pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

enum class Created { Taken, Exists, Impossible };

// Writes the whole lock under a private name first and links it into place: link(2) fails when
// the name exists, so of two programs racing for the device only one can win, and nobody ever
// reads a half-written lock.
Created CreateLinked(const std::string& folder, const std::string& lockFile) {
    std::string temporary = folder + "/LTMP.XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return Created::Impossible;
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
    ::fchmod(fd, 0644); // others must be able to read who holds the device
    ::close(fd);
    Created result = Created::Impossible;
    if (written) {
        if (::link(temporary.c_str(), lockFile.c_str()) == 0)
            result = Created::Taken;
        else if (errno == EEXIST)
            result = Created::Exists;
    }
    ::unlink(temporary.c_str());
    return result;
}

} // namespace

KUucpLock::~KUucpLock() {
    Release();
}

KUucpLock::KUucpLock(KUucpLock&& other) noexcept : path(std::exchange(other.path, {})) {}

KUucpLock& KUucpLock::operator=(KUucpLock&& other) noexcept {
    if (this != &other) {
        Release();
        path = std::exchange(other.path, {});
    }
    return *this;
}

std::string KUucpLock::Folder() {
    if (const char* folder = std::getenv("VELINOR_LOCK_DIR"); folder && *folder) return folder;
    // /var/lock is a link to /run/lock on current Linux systems; older ones have only the former.
    return ::access("/run/lock", F_OK) == 0 ? "/run/lock" : "/var/lock";
}

std::string KUucpLock::FileName(const std::string& device) {
    std::string resolved = device;
    if (char* real = ::realpath(device.c_str(), nullptr)) {
        resolved = real;
        std::free(real);
    }
    const size_t slash = resolved.find_last_of('/');
    return "LCK.." + (slash == std::string::npos ? resolved : resolved.substr(slash + 1));
}

int KUucpLock::ReadOwner(const std::string& lockFile) {
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;
    char bytes[32] = {};
    const ssize_t read = ::read(fd, bytes, sizeof bytes - 1);
    ::close(fd);
    if (read <= 0) return 0;
    const char* end = bytes + read;
    int pid = 0;
    // Old programs wrote the pid as four binary bytes; no pid a system hands out (at most 2^22
    // on Linux) has only digits, spaces and newlines among them, so text is never taken for it.
    const bool text = std::all_of(static_cast<const char*>(bytes), end, [](char c) {
        return c == ' ' || c == '\n' || (c >= '0' && c <= '9');
    });
    if (read == 4 && !text) {
        int32_t binary = 0;
        std::memcpy(&binary, bytes, sizeof binary);
        pid = binary;
    } else {
        const char* first = bytes;
        while (first < end && *first == ' ')
            ++first;
        const auto [next, ec] = std::from_chars(first, end, pid);
        if (ec != std::errc() || next == first || (next != end && *next != '\n')) return 0;
    }
    return pid > 0 && pid <= kMaxPid ? pid : 0;
}

bool KUucpLock::Acquire(const std::string& device, int& ownerPid, const std::string& folder) {
    Release();
    ownerPid = 0;
    const std::string lockFile = folder + "/" + FileName(device);
    // A few rounds, for another program taking or dropping the lock at the same moment.
    for (int round = 0; round < 3; ++round) {
        struct stat found {};
        if (::lstat(lockFile.c_str(), &found) == 0) {
            const int owner = ReadOwner(lockFile);
            if (owner > 0 && owner != ::getpid() && Alive(owner)) {
                ownerPid = owner;
                return false;
            }
            // Left behind by a program that is gone (or unreadable): take it over, unless it was
            // replaced while we looked.
            struct stat now {};
            if (::lstat(lockFile.c_str(), &now) == 0 && SameFile(found, now) &&
                ::unlink(lockFile.c_str()) != 0 && errno != ENOENT)
                return true; // not ours to remove: go on without it
        }
        switch (CreateLinked(folder, lockFile)) {
        case Created::Taken:
            path = lockFile;
            return true;
        case Created::Impossible:
            return true;
        case Created::Exists:
            break;
        }
    }
    return true;
}

void KUucpLock::Release() {
    if (path.empty()) return;
    if (ReadOwner(path) == ::getpid()) ::unlink(path.c_str());
    path.clear();
}
