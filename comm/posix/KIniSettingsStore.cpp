#include "comm/KIniSettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "comm/KIniDocument.h"

namespace fs = std::filesystem;

namespace {

// Read-modify-write of a settings file is one step for the whole process, as the private-profile
// calls make it on Windows, so that two writers never lose each other's keys; between processes
// the file's own lock does the same.
std::mutex& FileLock() {
    static std::mutex lock;
    return lock;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The file a write goes to: the path itself, or the file behind a symbolic link that the user
// made (a link owned by someone else, or one pointing nowhere, may have been planted in a shared
// folder and is refused: writing through it would create or rewrite a file of the planter's
// choosing). Empty when refused.
std::string WriteTarget(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    if (link.st_uid != ::geteuid()) return std::string();
    std::error_code ec;
    const fs::path resolved = fs::canonical(path, ec);
    return ec ? std::string() : resolved.string();
}

// Rewrites the file where it is, keeping it the same file (owner, group, permissions, links);
// used where no file can be made beside it. Not atomic, like the Windows call it stands for.
bool RewriteInPlace(const std::string& path, const struct stat& expected, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat now {};
    bool ok = ::fstat(fd, &now) == 0 && now.st_dev == expected.st_dev && now.st_ino == expected.st_ino;
    ok = ok && WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

// Replaces the file in one step: the new text goes to a temporary file beside it, reaches the
// disk, and is renamed over the old one. Whatever happens on the way, the old file stays whole.
// The replacement takes the old file's owner, group and permissions; where it cannot (a file
// shared through its group, a folder we may not write, a file with other names), the file is
// rewritten in place instead.
bool ReplaceFile(const std::string& path, const std::string& text) {
    const std::string target = WriteTarget(path);
    if (target.empty()) return false;
    struct stat old {};
    const bool existed = ::lstat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) return false;
    // A file its owner made read-only stays as it is, as on Windows.
    if (existed && ::access(target.c_str(), W_OK) != 0) return false;

    const fs::path file(target);
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    static std::atomic<unsigned> serial{0};
    const fs::path temp = folder / ("." + file.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                                    std::to_string(serial++));
    // A file with other names stays one file with them.
    if (existed && old.st_nlink > 1) return RewriteInPlace(target, old, text);
    // Private until it has the old file's owner and permissions; a new file gets what a plain
    // create would give it.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, existed ? 0600 : 0666);
    if (fd < 0) {
        const bool folderClosed = errno == EACCES || errno == EPERM || errno == EROFS;
        return existed && folderClosed && RewriteInPlace(target, old, text);
    }
    bool ok = WriteAll(fd, text);
    if (existed) {
        // Owner before permissions: a change of owner may clear the set-id bits.
        const bool sameOwner = ::fchown(fd, old.st_uid, old.st_gid) == 0;
        ok = ok && ::fchmod(fd, old.st_mode & 07777) == 0;
        if (!sameOwner) {
            ::close(fd);
            ::unlink(temp.c_str());
            return RewriteInPlace(target, old, text);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// An open settings file, locked for as long as it is held.
class LockedFile {
public:
    LockedFile() = default;
    ~LockedFile() { Reset(-1); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    void Reset(int descriptor) {
        if (fd >= 0) ::close(fd);  // closing releases the lock
        fd = descriptor;
    }
    int fd = -1;
    struct stat info {};
};

constexpr int kLockPollMs = 5;
// The lock is held for one read-modify-write: a wait this long means a program that holds it
// and does not let go (anyone who may read the file can lock it).
constexpr int kLockWaitMs = 5000;

bool Lock(int fd, bool exclusive) {
    for (int waited = 0;; waited += kLockPollMs) {
        if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
        // A file system without locks: the process's own lock still orders its threads.
        if (errno != EWOULDBLOCK && errno != EINTR) return true;
        if (waited >= kLockWaitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
}

enum class Opened { Locked, Missing, Failed };

// Opens the file and takes its lock (exclusive for a write, which creates a missing file so that
// there is something to lock). A writer replaces the file by renaming a new one over it: a lock
// won on the file it replaced guards nothing, so the lock is taken again on the file now there.
Opened OpenLocked(const std::string& path, bool exclusive, LockedFile& file, std::string& error) {
    // Not blocking on a FIFO put in its place: anything but a regular file is refused.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (exclusive ? O_CREAT | O_NOFOLLOW : 0);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        file.Reset(::open(path.c_str(), flags, 0666));
        if (file.fd < 0) {
            if (errno == ENOENT && !exclusive) return Opened::Missing;
            error = path + ": " + std::strerror(errno);
            return Opened::Failed;
        }
        if (::fstat(file.fd, &file.info) != 0 || !S_ISREG(file.info.st_mode)) {
            error = path + " is not a regular file";
            return Opened::Failed;
        }
        if (!Lock(file.fd, exclusive)) {
            if (!exclusive) return Opened::Locked;  // reading goes on: a replaced file is whole
            error = path + " stays locked by another program";
            return Opened::Failed;
        }
        struct stat now {};
        if (::stat(path.c_str(), &now) == 0 && now.st_dev == file.info.st_dev && now.st_ino == file.info.st_ino) {
            ::fstat(file.fd, &file.info);  // its size as it is now
            return Opened::Locked;
        }
    }
    error = path + " keeps being replaced";
    return Opened::Failed;
}

// The text of the locked file, refused unread when it is larger than a settings file can be.
bool ReadLocked(const LockedFile& file, const std::string& path, std::string& text, std::string& error) {
    const uint64_t limit = KIniSettingsStore::kMaxBytes;
    const auto tooLarge = [&](uint64_t size) {
        error = path + " is " + std::to_string(size) + " bytes, too large for a settings file (at most " +
                std::to_string(limit) + "); it is not read";
        return false;
    };
    if (static_cast<uint64_t>(file.info.st_size) > limit) return tooLarge(static_cast<uint64_t>(file.info.st_size));
    text.clear();
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(file.fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) return true;
        text.append(buffer, static_cast<size_t>(n));
        at += n;
        if (text.size() > limit) return tooLarge(text.size());  // it grew while read
    }
}

// The file's text; empty for a missing file.
bool ReadDocument(const std::string& path, std::string& text, std::string& error) {
    std::lock_guard<std::mutex> guard(FileLock());
    LockedFile file;
    switch (OpenLocked(path, false, file, error)) {
    case Opened::Missing: text.clear(); return true;
    case Opened::Failed: return false;
    case Opened::Locked: break;
    }
    return ReadLocked(file, path, text, error);
}

bool WriteValues(const std::string& path, const std::string& section, const KIniSettingsStore::Values& values,
                 std::string& error) {
    if (!KIniDocument::SectionFits(section, values, path, error)) return false;
    std::lock_guard<std::mutex> guard(FileLock());
    const std::string target = WriteTarget(path);
    if (target.empty()) {
        error = path + " is a symbolic link that is not yours or leads nowhere: it is not written through";
        return false;
    }
    LockedFile file;
    if (OpenLocked(target, true, file, error) != Opened::Locked) return false;
    std::string text;
    if (!ReadLocked(file, target, text, error)) return false;
    KIniDocument document(text);
    for (const auto& [key, value] : values) document.Set(section, key, value);
    const std::string updated = document.Text();
    if (updated == text) return true;
    errno = 0;
    if (!ReplaceFile(target, updated)) {
        error = target + " could not be written" + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        return false;
    }
    return true;  // the lock goes with the old file's descriptor, after the new file is in place
}

std::optional<std::string> ReadValue(const std::string& path, const char* section, const char* key) {
    if (!section || !key) return std::nullopt;
    std::string text, error;
    if (!ReadDocument(path, text, error)) return std::nullopt;
    return KIniDocument(text).Get(section, key);
}

} // namespace

KIniSettingsStore::KIniSettingsStore(std::string iniPath) : path(std::move(iniPath)) {}

bool KIniSettingsStore::WriteSection(const std::string& section, const Values& values, std::string& error) {
    return WriteValues(path, section, values, error);
}

bool KIniSettingsStore::ReadSection(const std::string& section, const std::vector<std::string>& keys,
                                    std::vector<std::optional<std::string>>& values, std::string& error) {
    values.assign(keys.size(), std::nullopt);
    std::string text;
    if (!ReadDocument(path, text, error)) return false;
    const KIniDocument document(text);
    for (size_t i = 0; i < keys.size(); ++i) values[i] = document.Get(section, keys[i]);
    return true;
}

void KIniSettingsStore::WriteInt(int32_t, const char* section, const char* key, int32_t value) {
    std::string ignored;
    if (!section || !key || !WriteValues(path, section, {{key, std::to_string(value)}}, ignored)) writeFailed = true;
}

bool KIniSettingsStore::ReadInt(int32_t, const char* section, const char* key, int32_t& value,
                                int32_t defaultValue) {
    const std::optional<std::string> text = ReadValue(path, section, key);
    if (!text) {
        value = defaultValue;
        return false;
    }
    // An empty value reads as the default, a value that is no number as 0.
    value = text->empty() ? defaultValue : KIniParseInt(*text);
    return true;
}

void KIniSettingsStore::WriteString(int32_t, const char* section, const char* key, const std::string& value) {
    std::string ignored;
    if (!section || !key || !WriteValues(path, section, {{key, value}}, ignored)) writeFailed = true;
}

std::string KIniSettingsStore::ReadString(int32_t, const char* section, const char* key,
                                          const std::string& defaultValue) {
    const std::optional<std::string> text = ReadValue(path, section, key);
    return text ? *text : defaultValue;
}
