#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "comm/KSettingsStore.h"

// Settings in an INI file ("[Section]" and "Key=Value" lines), the Windows private-profile
// format: the private-profile calls on Windows, the same format and number reading elsewhere.
// A single-key write that fails changes nothing and is only remembered (WriteFailed), for
// callers that tell; values that would break the file's lines are not written at all.
class KIniSettingsStore : public KSettingsStore {
public:
    explicit KIniSettingsStore(std::string path);

    void WriteInt(int32_t context, const char* section, const char* key, int32_t value) override;
    bool ReadInt(int32_t context, const char* section, const char* key, int32_t& value,
                 int32_t defaultValue) override;
    void WriteString(int32_t context, const char* section, const char* key,
                     const std::string& value) override;
    std::string ReadString(int32_t context, const char* section, const char* key,
                           const std::string& defaultValue) override;

    // Keys and their values, in the order they are written.
    using Values = std::vector<std::pair<std::string, std::string>>;

    // A settings file holds a few hundred bytes: a larger one than this is refused unread (a file
    // put there by mistake, or to make the program slow to start).
    static constexpr uint64_t kMaxBytes = 1024 * 1024;

    // Writes every key of `values` into `section` as one change of the file: read, edited and
    // replaced while holding a lock that every writer through this class takes, so that two
    // programs saving at once leave one's keys or the other's, never a mixture. Nothing is
    // written, and false comes back with the reason in `error`, when a name or value holds a
    // line break or NUL (it would end its line and start others: a device path may hold one),
    // when the file is too large (kMaxBytes) or cannot be read, or when it cannot be replaced.
    bool WriteSection(const std::string& section, const Values& values, std::string& error);
    // Reads `keys` of `section` from one reading of the file: each value, or nothing when the
    // key is missing. False, with the reason, when the file exists but cannot be read or is
    // too large; a missing file reads as empty.
    bool ReadSection(const std::string& section, const std::vector<std::string>& keys,
                     std::vector<std::optional<std::string>>& values, std::string& error);

    const std::string& Path() const { return path; }
    // Whether any write through this store has failed (a folder or file that may not be written).
    bool WriteFailed() const { return writeFailed; }

private:
    std::string path;
    bool writeFailed = false;
};

// What GetPrivateProfileIntA makes of a value text: leading blanks skipped, an optional sign,
// decimal digits up to the first other character, 32-bit wrap-around; no digits gives 0.
int32_t KIniParseInt(const std::string& text);

// The INI file named after a program: its path cut at the extension's "." and followed by ".ini"
// ("C:\Tools\velinor-dialog.exe" gives "C:\Tools\velinor-dialog.ini"). A dot in a folder's
// name is no extension: a program without one gets ".ini" appended.
std::string KIniPathBeside(const std::string& programPath);
