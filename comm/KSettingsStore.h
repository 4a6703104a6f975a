#pragma once
#include <cstdint>
#include <string>

// Where a caller keeps settings: sections of named integer (and text) values. `context` is an
// opaque value passed through unchanged.
class KSettingsStore {
public:
    virtual ~KSettingsStore() = default;
    virtual void WriteInt(int32_t context, const char* section, const char* key, int32_t value) = 0;
    // Stores the value read, or `defaultValue` when the key is missing; false when it was missing.
    virtual bool ReadInt(int32_t context, const char* section, const char* key, int32_t& value,
                         int32_t defaultValue) = 0;
    virtual void WriteString(int32_t context, const char* section, const char* key,
                             const std::string& value) = 0;
    virtual std::string ReadString(int32_t context, const char* section, const char* key,
                                   const std::string& defaultValue) = 0;
};
