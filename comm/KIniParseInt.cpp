#include "comm/KIniSettingsStore.h"

int32_t KIniParseInt(const std::string& text) {
    size_t i = 0;
    // Blanks are everything up to the space character, control characters included.
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint32_t total = 0;  // unsigned, so that long numbers wrap as they do on Windows
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        total = total * 10u + static_cast<uint32_t>(text[i] - '0');
    if (negative) total = 0u - total;
    return static_cast<int32_t>(total);
}
