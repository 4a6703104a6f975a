#include "support/TopconFrames.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>

uint16_t GrilCrc16(const Bytes& data) {
    uint16_t crc = 0;
    for (uint8_t byte : data) {
        crc = static_cast<uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

uint8_t GrilChecksum8(const Bytes& data) {
    auto rotate = [](uint8_t v) { return static_cast<uint8_t>((v << 2) | (v >> 6)); };
    uint8_t sum = 0;
    for (uint8_t byte : data) sum = static_cast<uint8_t>(rotate(sum) ^ byte);
    return rotate(sum);
}

Bytes TopconMessage(const std::string& id, const Bytes& body) {
    if (id.size() != 2 || body.size() > 0xFFF) throw std::invalid_argument("bad GRIL message");
    char header[8];
    std::snprintf(header, sizeof header, "%s%03X", id.c_str(), static_cast<unsigned>(body.size()));
    Bytes out(5 + body.size());
    for (size_t i = 0; i < 5; ++i) out[i] = static_cast<uint8_t>(header[i]);
    std::copy(body.begin(), body.end(), out.begin() + 5);
    return out;
}

Bytes TopconMessage(const std::string& id, const std::string& body) {
    return TopconMessage(id, Bytes(body.begin(), body.end()));
}

Bytes TopconChecked(const std::string& id, const Bytes& payload) {
    size_t checkSize = 0;
    if (id == "rM" || id == ">>") checkSize = 2;
    else if (id == "GE" || id == "NE" || id == "PO" || id == "~~") checkSize = 1;
    Bytes body = payload;
    body.resize(payload.size() + checkSize, 0);
    Bytes message = TopconMessage(id, body);
    const Bytes covered(message.begin(), message.end() - static_cast<std::ptrdiff_t>(checkSize));
    if (id == "rM") {
        const uint16_t crc = GrilCrc16(covered);
        message[message.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
        message[message.size() - 1] = static_cast<uint8_t>(crc >> 8);
    } else if (id == ">>") {
        const char* digits = "0123456789ABCDEF";
        const uint8_t sum = GrilChecksum8(covered);
        message[message.size() - 2] = static_cast<uint8_t>(digits[sum >> 4]);
        message[message.size() - 1] = static_cast<uint8_t>(digits[sum & 0xF]);
    } else if (checkSize == 1) {
        message.back() = GrilChecksum8(covered);
    }
    return message;
}

Bytes TopconChecked(const std::string& id, const std::string& payload) {
    return TopconChecked(id, Bytes(payload.begin(), payload.end()));
}

Bytes WithCrLf(const Bytes& message) { return Concat({message, {0x0D, 0x0A}}); }

Bytes FlipByte(const Bytes& frame, size_t at, uint8_t mask) {
    Bytes out = frame;
    out.at(at) ^= mask;
    return out;
}

Bytes SetByte(const Bytes& frame, size_t at, uint8_t value) {
    Bytes out = frame;
    out.at(at) = value;
    return out;
}

Bytes LowerCaseCheckDigits(const Bytes& message) {
    Bytes out = message;
    for (size_t i = out.size() - 2; i < out.size(); ++i)
        if (out[i] >= 'A' && out[i] <= 'F') out[i] = static_cast<uint8_t>(out[i] + 32);
    return out;
}

Bytes SwapLastTwo(const Bytes& message) {
    Bytes out = message;
    std::swap(out[out.size() - 2], out[out.size() - 1]);
    return out;
}

Bytes PseudoRandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (uint8_t& byte : out) byte = static_cast<uint8_t>(random() >> 24);
    return out;
}
