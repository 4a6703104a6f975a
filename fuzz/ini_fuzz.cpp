// The INI text reader and editor under arbitrary files. Whatever the file holds, setting a key
// must make that key read back as set, leave every other key as it read before, and survive a
// round trip through the text.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "comm/KIniDocument.h"

namespace {

// A name or value made only of characters with no meaning to the format.
std::string Plain(const uint8_t*& data, size_t& size, size_t length, bool spaces) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.- ";
    const size_t letters = sizeof alphabet - (spaces ? 1 : 2);
    std::string out;
    while (out.size() < length && size > 0) {
        out += alphabet[*data % letters];
        ++data;
        --size;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    while (!out.empty() && out.front() == ' ') out.erase(out.begin());
    return out.empty() ? "k" : out;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "ini: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 24) return 0;
    std::string section = Plain(data, size, 6, false);
    std::string key = Plain(data, size, 6, false);
    std::string value = Plain(data, size, 8, true);
    std::string otherSection = Plain(data, size, 2, false);
    std::string otherKey = Plain(data, size, 2, false);
    KIniDocument document(std::string(reinterpret_cast<const char*>(data), size));

    const bool sameKey = SameName(section, otherSection) && SameName(key, otherKey);
    const auto before = document.Get(otherSection, otherKey);
    document.Set(section, key, value);
    if (document.Get(section, key) != value) Fail("a key set does not read back");
    if (!sameKey && document.Get(otherSection, otherKey) != before) Fail("setting one key changed another");
    const KIniDocument again(document.Text());
    if (again.Get(section, key) != value) Fail("the key set does not survive the text");
    if (!sameKey && again.Get(otherSection, otherKey) != before) Fail("another key did not survive the text");
    return 0;
}
