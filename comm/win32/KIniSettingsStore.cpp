#include "comm/KIniSettingsStore.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "comm/KConsole.h"
#include "comm/KIniDocument.h"

namespace {

// The private-profile calls look for a bare or relative file name in the Windows folder, not in
// the current one; a full path keeps the file where the caller meant it to be.
std::string FullPath(const std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                              buffer.data(), nullptr);
        if (length == 0) return path;
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

// GetPrivateProfileStringA into a buffer that grows until the whole answer fits. With a null
// key the answer is the section's key names, each ending in a zero, as one block.
std::string ReadProfile(const char* section, const char* key, const char* defaultValue,
                        const std::string& file) {
    std::vector<char> buffer(256);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(),
                                                      size, file.c_str());
        // A full buffer answers size - 1 for a value and size - 2 for a list of names.
        const DWORD truncated = key ? size - 1 : size - 2;
        if (length < truncated) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

bool HasKey(const char* section, const char* key, const std::string& file) {
    const std::string names = ReadProfile(section, nullptr, "", file);
    for (size_t start = 0; start < names.size();) {
        const size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end == std::string::npos ? end : end - start);
        if (lstrcmpiA(name.c_str(), key) == 0) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

// Several keys read or written together are one step against other programs using the file
// through this class: a mutex named after the file (the private-profile calls order single
// calls only).
class FileMutex {
public:
    explicit FileMutex(const std::string& file) {
        std::string name = "Local\\velinor-ini-";
        // Kernel object names tell case apart, file names do not.
        for (char c : file) name += (c == '\\' || c == ':' || c == '/') ? '_' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (name.size() > MAX_PATH) name.resize(MAX_PATH);
        handle = CreateMutexA(nullptr, FALSE, name.c_str());
        if (handle) {
            const DWORD waited = WaitForSingleObject(handle, 5000);
            held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        }
    }
    ~FileMutex() {
        if (handle && held) ReleaseMutex(handle);
        if (handle) CloseHandle(handle);
    }
    FileMutex(const FileMutex&) = delete;
    FileMutex& operator=(const FileMutex&) = delete;

private:
    HANDLE handle = nullptr;
    bool held = false;
};

// False, with the reason, for a file too large to be a settings file; a missing file is fine.
bool SizeAllowed(const std::string& file, std::string& error) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data)) return true;
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size <= KIniSettingsStore::kMaxBytes) return true;
    error = file + " is " + std::to_string(size) + " bytes, too large for a settings file (at most " +
            std::to_string(KIniSettingsStore::kMaxBytes) + "); it is not read";
    return false;
}

} // namespace

bool KIniSettingsStore::WriteSection(const std::string& section, const Values& values, std::string& error) {
    const std::string file = FullPath(path);
    if (!KIniDocument::SectionFits(section, values, file, error)) return false;
    FileMutex lock(file);
    if (!SizeAllowed(file, error)) return false;
    for (const auto& [key, value] : values) {
        if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str())) {
            error = file + " could not be written: " + KConsole::ErrorText(static_cast<int>(GetLastError()));
            return false;
        }
    }
    return true;
}

bool KIniSettingsStore::ReadSection(const std::string& section, const std::vector<std::string>& keys,
                                    std::vector<std::optional<std::string>>& values, std::string& error) {
    values.assign(keys.size(), std::nullopt);
    const std::string file = FullPath(path);
    FileMutex lock(file);
    if (!SizeAllowed(file, error)) return false;
    for (size_t i = 0; i < keys.size(); ++i)
        if (HasKey(section.c_str(), keys[i].c_str(), file)) values[i] = ReadProfile(section.c_str(), keys[i].c_str(), "", file);
    return true;
}

KIniSettingsStore::KIniSettingsStore(std::string file) : path(std::move(file)) {}

void KIniSettingsStore::WriteInt(int32_t /*context*/, const char* section, const char* key,
                                 int32_t value) {
    const std::string text = std::to_string(value);
    if (!WritePrivateProfileStringA(section, key, text.c_str(), FullPath(path).c_str()))
        writeFailed = true;
}

bool KIniSettingsStore::ReadInt(int32_t /*context*/, const char* section, const char* key,
                                int32_t& value, int32_t defaultValue) {
    const std::string file = FullPath(path);
    if (!HasKey(section, key, file)) {
        value = defaultValue;
        return false;
    }
    value = static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, file.c_str()));
    return true;
}

void KIniSettingsStore::WriteString(int32_t /*context*/, const char* section, const char* key,
                                    const std::string& value) {
    // A value that would break the file's lines is not written.
    if (!KIniDocument::FitsOnALine(value) ||
        !WritePrivateProfileStringA(section, key, value.c_str(), FullPath(path).c_str()))
        writeFailed = true;
}

std::string KIniSettingsStore::ReadString(int32_t /*context*/, const char* section,
                                          const char* key, const std::string& defaultValue) {
    return ReadProfile(section, key, defaultValue.c_str(), FullPath(path));
}
