#include "receivers/KByteFields.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {
uint32_t SkipBlanks(const uint8_t* text, uint32_t width) {
    uint32_t i = 0;
    while (i < width && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    return i;
}
} // namespace

namespace KByteFields {

int32_t TextInteger(const uint8_t* text, uint32_t width) {
    uint32_t i = SkipBlanks(text, width);
    bool negative = false;
    if (i < width && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Saturates instead of overflowing, however many digits the field holds.
    int64_t value = 0;
    for (; i < width && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
    return static_cast<int32_t>(negative ? -value : value);
}

bool TextCount(const uint8_t* text, uint32_t width, int32_t& value) {
    uint32_t i = SkipBlanks(text, width);
    const uint32_t digits = i;
    while (i < width && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits || i - digits > 9) return false;
    const uint32_t end = i;
    while (i < width && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i != width) return false;
    value = TextInteger(text + digits, end - digits);
    return true;
}

double TextDecimal(const uint8_t* text, uint32_t width) {
    // strtod needs a terminated copy; the field may run up to the message's last byte.
    const uint32_t start = SkipBlanks(text, width);
    const std::string field(reinterpret_cast<const char*>(text) + start, width - start);
    return std::strtod(field.c_str(), nullptr);
}

} // namespace KByteFields
