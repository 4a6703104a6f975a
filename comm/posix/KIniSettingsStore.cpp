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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    exists = true;
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

// Replaces the file in one step: the new text goes to a temporary file beside it, reaches the
// disk, and is renamed over the old one. Whatever happens on the way, the old file stays whole.
bool ReplaceFile(const std::string& path, const std::string& text) {
    fs::path target(path);
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);  // keep the link, replace its file
        if (ec) return false;
        target = resolved;
    }
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    // A file its owner made read-only stays as it is, as on Windows.
    if (existed && ::access(target.c_str(), W_OK) != 0) return false;

    static std::atomic<unsigned> serial{0};
    const fs::path temp = target.parent_path() / ("." + target.filename().string() + ".tmp-" +
                                                  std::to_string(::getpid()) + "-" + std::to_string(serial++));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text);
    if (ok && existed) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        if (ok && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; the owner's own copy is what the user expects anyway.
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void WriteValue(const std::string& path, const char* section, const char* key, const std::string& value) {
    if (!section || !key) return;
    std::lock_guard<std::mutex> guard(FileLock());
    bool exists = false;
    const std::optional<std::string> text = ReadFile(path, exists);
    if (!text) return;  // an unreadable file is not overwritten with a fresh one
    KIniDocument document(*text);
    document.Set(section, key, value);
    const std::string updated = document.Text();
    if (exists && updated == *text) return;
    ReplaceFile(path, updated);
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
    WriteValue(path, section, key, std::to_string(value));
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
    WriteValue(path, section, key, value);
}

std::string KIniSettingsStore::ReadString(int32_t, const char* section, const char* key,
                                          const std::string& defaultValue) {
    const std::optional<std::string> text = ReadValue(path, section, key);
    return text ? *text : defaultValue;
}
