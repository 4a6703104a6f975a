#include "comm/KIniSettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <optional>

#include "comm/KIniDocument.h"

namespace fs = std::filesystem;

namespace {

// Read-modify-write of a settings file is one step for the whole process, as the private-profile
// calls make it on Windows, so that two writers never lose each other's keys.
std::mutex& FileLock() {
    static std::mutex lock;
    return lock;
}

// The text of the file; nothing when it exists but cannot be read (a missing file is empty).
std::optional<std::string> ReadFile(const std::string& path, bool& exists) {
    exists = false;
    // Not blocking on a FIFO put in its place: anything but a regular file is unreadable.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    exists = true;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
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

bool WriteValue(const std::string& path, const char* section, const char* key, const std::string& value) {
    if (!section || !key) return false;
    std::lock_guard<std::mutex> guard(FileLock());
    bool exists = false;
    const std::optional<std::string> text = ReadFile(path, exists);
    if (!text) return false;  // an unreadable file is not overwritten with a fresh one
    KIniDocument document(*text);
    document.Set(section, key, value);
    const std::string updated = document.Text();
    if (exists && updated == *text) return true;
    return ReplaceFile(path, updated);
}

std::optional<std::string> ReadValue(const std::string& path, const char* section, const char* key) {
    if (!section || !key) return std::nullopt;
    std::lock_guard<std::mutex> guard(FileLock());
    bool exists = false;
    const std::optional<std::string> text = ReadFile(path, exists);
    if (!text) return std::nullopt;
    return KIniDocument(*text).Get(section, key);
}

} // namespace

KIniSettingsStore::KIniSettingsStore(std::string iniPath) : path(std::move(iniPath)) {}

void KIniSettingsStore::WriteInt(int32_t, const char* section, const char* key, int32_t value) {
    if (!WriteValue(path, section, key, std::to_string(value))) writeFailed = true;
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
    if (!WriteValue(path, section, key, value)) writeFailed = true;
}

std::string KIniSettingsStore::ReadString(int32_t, const char* section, const char* key,
                                          const std::string& defaultValue) {
    const std::optional<std::string> text = ReadValue(path, section, key);
    return text ? *text : defaultValue;
}
