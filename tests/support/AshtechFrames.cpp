#include "support/AshtechFrames.h"

#include <cstdio>
#include <stdexcept>

#include "support/TopconFrames.h"

size_t AshtechBodySize(const std::string& type) {
    if (type == "MPC") return 94;
    if (type == "PBN") return 54;
    if (type == "GBN") return 36;
    if (type == "SNV") return 130;
    if (type == "MCA") return 36;
    return 0;
}

Bytes AshtechFixed(const std::string& type, const Bytes& body) {
    if (body.size() != AshtechBodySize(type) || body.empty())
        throw std::invalid_argument("wrong body size for " + type);
    Bytes out = Text("$PASHR," + type + ",");
    out.insert(out.end(), body.begin(), body.end());
    if (type == "MPC" || type == "MCA") {
        uint8_t x = 0;
        for (uint8_t b : body) x ^= b;
        out.push_back(x);
    } else if (type == "PBN" || type == "SNV") {
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < body.size(); i += 2) sum += (body[i] << 8) | body[i + 1];
        out.push_back(static_cast<uint8_t>((sum >> 8) & 0xFF));
        out.push_back(static_cast<uint8_t>(sum & 0xFF));
    }
    out.push_back(0x0D);
    out.push_back(0x0A);
    return out;
}

Bytes AshtechFixed(const std::string& type, uint32_t seed) {
    return AshtechFixed(type, PseudoRandomBytes(AshtechBodySize(type), seed));
}

Bytes PashrLine(const std::string& text) { return Text("$PASHR," + text + "\r\n"); }

uint8_t NmeaChecksum(const std::string& between) {
    uint8_t x = 0;
    for (char c : between) x ^= static_cast<uint8_t>(c);
    return x;
}

Bytes GpxdrSentence(const std::string& fields, bool lowerCase) {
    char check[3];
    std::snprintf(check, sizeof check, lowerCase ? "%02x" : "%02X", NmeaChecksum("GPXDR," + fields));
    return GpxdrWithCheck(fields, check);
}

Bytes GpxdrWithCheck(const std::string& fields, const std::string& check) {
    return Text("$GPXDR," + fields + "*" + check + "\r\n");
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
