#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

// How the simulated receivers write numbers into their messages and read them from requests,
// least or most significant byte first (kept apart from the product's readers, which they test).
namespace KSimBytes {

inline void PutLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

inline void PutBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

// The number that `width` bytes hold, least significant first; the caller checks they are there.
inline uint64_t ReadLittleEndian(const uint8_t* bytes, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

inline void PutDoubleLittleEndian(std::vector<uint8_t>& out, double value) {
    PutLittleEndian(out, std::bit_cast<uint64_t>(value), 8);
}

inline void PutDoubleBigEndian(std::vector<uint8_t>& out, double value) {
    PutBigEndian(out, std::bit_cast<uint64_t>(value), 8);
}

} // namespace KSimBytes
