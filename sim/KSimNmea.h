#pragma once
#include <cstdint>
#include <cstdio>
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

} // namespace KSimNmea
