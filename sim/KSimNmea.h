#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// NMEA sentences as the simulated receivers write and check them (kept apart from the product's
// framer, which they test).
namespace KSimNmea {

inline uint8_t Checksum(std::string_view body) {
    uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<uint8_t>(c);
    return sum;
}

// "$" + body + "*" + two upper-case hex digits + CR LF.
inline std::vector<uint8_t> Sentence(std::string_view body) {
    char check[8];
    std::snprintf(check, sizeof check, "*%02X\r\n", Checksum(body));
    std::vector<uint8_t> out;
    out.reserve(body.size() + 6);
    out.push_back('$');
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), check, check + 5);
    return out;
}

// A hex digit's value, -1 for none.
inline int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Whether `text` (a line from after its "$" up to its CR LF) ends right after the two hex digits
// of a "*hh" at `star` that match the checksum of what comes before it.
inline bool ChecksumHolds(std::string_view text, size_t star) {
    if (star == std::string_view::npos || star + 3 != text.size()) return false;
    const int high = HexValue(text[star + 1]);
    const int low = HexValue(text[star + 2]);
    return high >= 0 && low >= 0 && high * 16 + low == Checksum(text.substr(0, star));
}

// The comma-separated fields of `text`, empty ones included.
inline std::vector<std::string> Fields(std::string_view text) {
    std::vector<std::string> fields;
    for (;;) {
        const size_t comma = text.find(',');
        fields.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos) return fields;
        text.remove_prefix(comma + 1);
    }
}

// A command reader's byte: lines run from "$" to CR LF, a new "$" starts over, and a line longer
// than `longest` is dropped. A whole line is moved to `out`.
inline void GatherLine(std::vector<uint8_t>& line, uint8_t byte, size_t longest,
                       std::vector<std::vector<uint8_t>>& out) {
    if (byte == '$') {
        line.assign(1, byte);
        return;
    }
    if (line.empty()) return;
    line.push_back(byte);
    if (line.size() > longest) {
        line.clear();
    } else if (byte == '\n' && line[line.size() - 2] == '\r') {
        out.push_back(std::move(line));
        line.clear();
    }
}

} // namespace KSimNmea
