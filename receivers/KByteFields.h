#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

// Numbers inside receivers' messages and commands: binary, least or most significant byte first,
// or written as text in fixed-width fields. Callers check that the bytes lie inside the message.
namespace KByteFields {

inline uint64_t LittleEndian(const uint8_t* bytes, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

inline uint64_t BigEndian(const uint8_t* bytes, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value = value << 8 | bytes[i];
    return value;
}

inline double DoubleLittleEndian(const uint8_t* bytes) { return std::bit_cast<double>(LittleEndian(bytes, 8)); }
inline double DoubleBigEndian(const uint8_t* bytes) { return std::bit_cast<double>(BigEndian(bytes, 8)); }

inline void PutLittleEndian(uint8_t* bytes, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Text in a field of `width` bytes, read as atoi and atof would but never past the field:
// leading blanks, an optional sign, then digits up to the first other character (0 without
// any; saturated at the 32-bit limits).
int32_t TextInteger(const uint8_t* text, uint32_t width);
// A field holding a count and nothing else: blanks around one run of digits. False for an empty
// field, a sign, or any other character, where TextInteger would still give a number.
bool TextCount(const uint8_t* text, uint32_t width, int32_t& value);
// Leading blanks, then the longest decimal number the field begins with (0.0 without any).
double TextDecimal(const uint8_t* text, uint32_t width);

} // namespace KByteFields
