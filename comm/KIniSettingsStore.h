#pragma once
#include <cstdint>
#include <string>

#include "comm/KSettingsStore.h"

// Settings in an INI file ("[Section]" and "Key=Value" lines), the Windows private-profile
// format: the private-profile calls on Windows, the same format and number reading elsewhere.
// A write that fails changes nothing and is only remembered (WriteFailed), for callers that tell.
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
