#include "comm/posix/KUucpLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace {

constexpr int64_t kMaxPid = 1 << 22;  // the most Linux hands out

enum class Content { Missing, Unreadable, NoPid, Pid };

// The pid at the start of a lock file as the convention has it: four binary bytes, or blanks,
// a decimal number and anything after it (a program's name, "\r\n"). A number beyond any pid
// comes back as kMaxPid + 1.
Content ReadPid(const std::string& lockFile, int64_t& pid) {
    pid = 0;
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? Content::Missing : Content::Unreadable;
    char bytes[64] = {};
    const ssize_t read = ::read(fd, bytes, sizeof bytes);
    ::close(fd);
    if (read <= 0) return read < 0 ? Content::Unreadable : Content::NoPid;
    const char* end = bytes + read;
    // No pid a system hands out (at most 2^22) has only digits, blanks and line ends among its
    // four bytes, so text is never taken for a binary pid.
    const bool text = std::all_of(static_cast<const char*>(bytes), end, [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || (c >= '0' && c <= '9');
    });
    if (read == 4 && !text) {
        int32_t binary = 0;
        std::memcpy(&binary, bytes, sizeof binary);
        pid = binary;
        return Content::Pid;
    }
    const char* first = bytes;
    while (first < end && (*first == ' ' || *first == '\t'))
        ++first;
    const auto [next, ec] = std::from_chars(first, end, pid);
    if (next == first) return Content::NoPid;
    if (ec == std::errc::result_out_of_range || pid > kMaxPid) pid = kMaxPid + 1;
    return Content::Pid;
}

KLockOwner OwnerOf(int64_t pid) {
    // Nothing runs under a pid out of range; kill answers ESRCH only for a pid that is free.
    if (pid <= 0 || pid > kMaxPid) return {KLockOwner::Gone, 0};
    const int owner = static_cast<int>(pid);
    if (::kill(owner, 0) != 0 && errno == ESRCH) return {KLockOwner::Gone, owner};
    return {KLockOwner::Live, owner};
}

// A leftover of this very process (its pid reused after a reboot, or a lock never given back)
// is as stale as a dead owner's.
KLockOwner InspectForTaking(const std::string& lockFile) {
    KLockOwner found = KUucpLock::Inspect(lockFile);
    if (found.state == KLockOwner::Live && found.pid == ::getpid()) found.state = KLockOwner::Gone;
    return found;
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

// Takers of stale locks in one folder go one at a time: an advisory lock on the folder itself.
// It is held for a few system calls; one held much longer than that belongs to a program that
// is stuck or hostile, and the takeover is given up rather than waited for without end.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd < 0) return; // not even readable: nobody can take turns here, go on alone
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return;
            if (errno != EWOULDBLOCK && errno != EINTR) return; // no advisory locks here
            std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
        }
        ::close(fd);
        fd = -1;
        contended = true;
    }
    ~FolderLock() {
        if (fd >= 0) ::close(fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Contended() const { return contended; }

private:
    static constexpr int kAttempts = 1000;
    static constexpr int kPauseMs = 2;
    int fd = -1;
    bool contended = false;
};

enum class TakeOver { Removed, Changed, NotRemovable, ReadOnlyFolder, Contended };

// Removes the stale lock `lockFile` so that exactly one of the programs that found it stale can
// go on to take the device. Among programs of ours the folder lock makes the look and the removal
// one step; against other programs, which remove stale locks their own way, the lock is first
// moved aside under a private name and what was moved is looked at again: a live lock that
// replaced the stale one meanwhile goes back into place.
TakeOver TakeOverStale(const std::string& folder, const std::string& lockFile) {
    FolderLock turn(folder);
    if (turn.Contended()) return TakeOver::Contended;
    if (InspectForTaking(lockFile).state != KLockOwner::Gone) return TakeOver::Changed;
    std::string aside = folder + "/LTMP.XXXXXX";
    const int fd = ::mkostemp(aside.data(), O_CLOEXEC);
    if (fd < 0) return TakeOver::ReadOnlyFolder;
    ::close(fd);
    if (::rename(lockFile.c_str(), aside.c_str()) != 0) {
        const int err = errno;
        ::unlink(aside.c_str());
        // Another user's lock in a folder with the sticky bit is theirs to remove.
        return err == ENOENT ? TakeOver::Changed : TakeOver::NotRemovable;
    }
    if (InspectForTaking(aside).state == KLockOwner::Gone) {
        ::unlink(aside.c_str());
        return TakeOver::Removed;
    }
    // Someone came in between: their lock goes back, even over one made in the moment it was
    // away (the earlier of two claims is the one to keep).
    if (::link(aside.c_str(), lockFile.c_str()) == 0)
        ::unlink(aside.c_str());
    else
        ::rename(aside.c_str(), lockFile.c_str());
    return TakeOver::Changed;
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
    int64_t pid = 0;
    if (ReadPid(lockFile, pid) != Content::Pid) return 0;
    return pid > 0 && pid <= kMaxPid ? static_cast<int>(pid) : 0;
}

KLockOwner KUucpLock::Inspect(const std::string& lockFile) {
    int64_t pid = 0;
    switch (ReadPid(lockFile, pid)) {
    case Content::Missing: return {KLockOwner::None, 0};
    case Content::Pid: return OwnerOf(pid);
    default: return {KLockOwner::Unknown, 0};
    }
}

bool KUucpLock::Acquire(const std::string& device, KLockOwner& owner, const std::string& folder) {
    Release();
    owner = {};
    const std::string lockFile = folder + "/" + FileName(device);
    // A few rounds, for other programs taking or dropping the lock at the same moment.
    for (int round = 0; round < 4; ++round) {
        const KLockOwner found = InspectForTaking(lockFile);
        switch (found.state) {
        case KLockOwner::Live:
        case KLockOwner::Unknown:
        case KLockOwner::Stuck:
            owner = found;
            return false;
        case KLockOwner::Gone:
            switch (TakeOverStale(folder, lockFile)) {
            case TakeOver::Removed: break;
            case TakeOver::Changed: continue;
            case TakeOver::ReadOnlyFolder: return true; // nobody but its owners can lock here
            case TakeOver::NotRemovable:
                owner = {KLockOwner::Stuck, found.pid};
                return false;
            case TakeOver::Contended:
                owner = {KLockOwner::Unknown, found.pid};
                return false;
            }
            break;
        case KLockOwner::None:
            break;
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
    // The lock kept changing hands: somebody is busy with the device.
    owner = InspectForTaking(lockFile);
    if (owner.state == KLockOwner::None || owner.state == KLockOwner::Gone) owner = {KLockOwner::Unknown, owner.pid};
    return false;
}

void KUucpLock::Release() {
    if (path.empty()) return;
    if (ReadOwner(path) == ::getpid()) ::unlink(path.c_str());
    path.clear();
}
