#pragma once
#include <bit>
#include <cstdint>
#include <vector>

// How the simulated receivers write numbers into their messages, least or most significant byte
// first (kept apart from the product's readers, which they test).
namespace KSimBytes {

inline void PutLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

inline void PutBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

inline void PutDoubleLittleEndian(std::vector<uint8_t>& out, double value) {
    PutLittleEndian(out, std::bit_cast<uint64_t>(value), 8);
}

inline void PutDoubleBigEndian(std::vector<uint8_t>& out, double value) {
    PutBigEndian(out, std::bit_cast<uint64_t>(value), 8);
}

} // namespace KSimBytes
