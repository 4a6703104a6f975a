#include "comm/KIniSettingsStore.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

} // namespace

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
    if (!WritePrivateProfileStringA(section, key, value.c_str(), FullPath(path).c_str()))
        writeFailed = true;
}

std::string KIniSettingsStore::ReadString(int32_t /*context*/, const char* section,
                                          const char* key, const std::string& defaultValue) {
    return ReadProfile(section, key, defaultValue.c_str(), FullPath(path));
}
