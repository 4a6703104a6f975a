#include "comm/KPrintableText.h"

#include <cstdint>

namespace {

void Escape(std::string& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    switch (byte) {
    case 0x1B: out += "\\e"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default:
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
}

// The length of the valid UTF-8 sequence at the start of `text` (2 to 4) and its code point, or
// 0 for a lead byte without its continuation, an overlong form, a surrogate or a value past
// U+10FFFF.
size_t Utf8Sequence(std::string_view text, uint32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length;
    uint32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

// C1 controls, and the characters that change the order or the lines of what follows them.
bool Hidden(uint32_t codePoint) {
    return codePoint <= 0x9F || codePoint == 0x061C || codePoint == 0x200E || codePoint == 0x200F ||
           (codePoint >= 0x2028 && codePoint <= 0x202E) || (codePoint >= 0x2066 && codePoint <= 0x2069);
}

} // namespace

std::string PrintableText(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        if (byte < 0x80) {
            if ((byte < 0x20 && !(keepLineBreaks && byte == '\n')) || byte == 0x7F)
                Escape(out, byte);
            else
                out += static_cast<char>(byte);
            text.remove_prefix(1);
            continue;
        }
        uint32_t codePoint = 0;
        const size_t length = Utf8Sequence(text, codePoint);
        if (length == 0) {
            Escape(out, byte);
            text.remove_prefix(1);
            continue;
        }
        if (Hidden(codePoint)) {
            for (size_t i = 0; i < length; ++i) Escape(out, static_cast<unsigned char>(text[i]));
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}
