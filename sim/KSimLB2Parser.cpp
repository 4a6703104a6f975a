#include "sim/KSimLB2Parser.h"

#include <algorithm>

uint16_t KSimLB2Parser::Checksum(const uint8_t* body, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += body[i];
    return static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu));
}

std::vector<uint8_t> KSimLB2Parser::Frame(const std::vector<uint8_t>& payload) {
    const size_t n = std::min(payload.size(), kMaxFrame - 6);
    const uint16_t length = static_cast<uint16_t>(n + 4);
    std::vector<uint8_t> frame(n + 6);
    frame[0] = 0x9C;
    frame[1] = 0xAE;
    frame[2] = static_cast<uint8_t>(length & 0xFF);
    frame[3] = static_cast<uint8_t>(length >> 8);
    for (size_t i = 0; i < n; ++i) frame[4 + i] = payload[i];
    const uint16_t sum = Checksum(frame.data() + 2, n + 2);
    frame[n + 4] = static_cast<uint8_t>(sum & 0xFF);
    frame[n + 5] = static_cast<uint8_t>(sum >> 8);
    return frame;
}

void KSimLB2Parser::Feed(uint8_t byte) {
    buffer.push_back(byte);
    const size_t size = buffer.size();
    if (size >= 2 && buffer[size - 2] == 0x9C && buffer[size - 1] == 0xAE) syncs.push_back(size - 2);

    // Each candidate start either completes exactly here, stays pending, or is dropped.
    for (size_t i = 0; i < syncs.size();) {
        const size_t start = syncs[i];
        if (size - start < 4) {
            ++i;
            continue;
        }
        const size_t total = static_cast<size_t>(buffer[start + 2] | (buffer[start + 3] << 8)) + 2;
        if (total <= 6 || total > kMaxFrame || size - start > total) {
            syncs.erase(syncs.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (size - start < total) {
            ++i;
            continue;
        }
        const uint8_t* frame = buffer.data() + start;
        const uint16_t stated = static_cast<uint16_t>(frame[total - 2] | (frame[total - 1] << 8));
        if (Checksum(frame + 2, total - 4) == stated) {
            ready.emplace_back(frame + 4, frame + total - 2);
            ++frames;
            buffer.clear();
            syncs.clear();
            return;
        }
        ++badChecksums;
        syncs.erase(syncs.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Bytes before the oldest candidate can never be part of a frame.
    const size_t keepFrom = syncs.empty() ? size - 1 : syncs.front();
    if (keepFrom > 0) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(keepFrom));
        for (size_t& s : syncs) s -= keepFrom;
    }
}

bool KSimLB2Parser::Next(std::vector<uint8_t>& payload) {
    if (ready.empty()) return false;
    payload = std::move(ready.front());
    ready.pop_front();
    return true;
}

void KSimLB2Parser::Clear() {
    buffer.clear();
    syncs.clear();
    ready.clear();
}
