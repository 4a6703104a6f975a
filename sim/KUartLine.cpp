#include "sim/KUartLine.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int kBitsPerFrame = 10;  // start, eight data, stop
} // namespace

KUartLine::KUartLine(uint32_t baud) : KUartLine(baud, Options{}) {}

KUartLine::KUartLine(uint32_t baud, Options lineOptions)
    : options(lineOptions), receiverBaud(baud == 0 ? 1 : baud),
      rngState(lineOptions.seed ^ 0x5DEECE66DULL) {
    const double p = options.bitFlipProbability;
    if (p >= 1.0) {
        flipAlways = true;
    } else if (p > 0.0) {
        const double scaled = std::ldexp(p, 64);
        if (scaled >= 18446744073709551615.0)
            flipAlways = true;
        else
            flipThreshold = static_cast<uint64_t>(scaled);
    }
}

int64_t KUartLine::BitOffsetNs(uint32_t baud, int64_t bit) {
    return bit * kNsPerSecond / static_cast<int64_t>(baud == 0 ? 1 : baud);
}

int64_t KUartLine::HalfBitOffsetNs(uint32_t baud, int64_t halfBits) {
    return halfBits * kNsPerSecond / (2 * static_cast<int64_t>(baud == 0 ? 1 : baud));
}

bool KUartLine::Flip() {
    if (flipAlways) return true;
    if (flipThreshold == 0) return false;
    // splitmix64: the same sequence on every platform and standard library.
    uint64_t z = (rngState += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return z < flipThreshold;
}

void KUartLine::AddEdge(int64_t timeNs, uint8_t level) {
    if (!edges.empty() && edges.back().timeNs == timeNs) {
        // Two changes at one instant: the later one wins; drop the edge if nothing changed.
        edges.pop_back();
        lastLevel = edges.empty() ? baseLevel : edges.back().level;
    }
    if (level == lastLevel) return;
    edges.push_back(Edge{timeNs, level});
    lastLevel = level;
}

int64_t KUartLine::Transmit(int64_t startNs, uint32_t baud, const uint8_t* data, size_t length) {
    if (baud == 0) baud = 1;
    int64_t t = std::max({startNs, freeAtNs, decodedToNs + 1});
    for (size_t i = 0; i < length; ++i) {
        const uint16_t frame = static_cast<uint16_t>((1u << 9) | (static_cast<uint32_t>(data[i]) << 1));
        for (int bit = 0; bit < kBitsPerFrame; ++bit) {
            uint8_t level = static_cast<uint8_t>((frame >> bit) & 1u);
            if (Flip()) {
                level ^= 1u;
                ++bitsFlipped;
            }
            AddEdge(t + BitOffsetNs(baud, bit), level);
        }
        t += BitOffsetNs(baud, kBitsPerFrame);
        AddEdge(t, 1);  // idle (mends a stop bit that noise pulled low)
    }
    freeAtNs = t;
    return t;
}

int64_t KUartLine::SendBreak(int64_t startNs, int64_t durationNs) {
    const int64_t t = std::max({startNs, freeAtNs, decodedToNs + 1});
    const int64_t end = t + std::max<int64_t>(durationNs, 0);
    if (end > t) {
        AddEdge(t, 0);
        AddEdge(end, 1);
    }
    freeAtNs = end;
    return end;
}

uint8_t KUartLine::LevelAt(int64_t timeNs) const {
    auto it = std::upper_bound(edges.begin(), edges.end(), timeNs,
                               [](int64_t t, const Edge& e) { return t < e.timeNs; });
    if (it == edges.begin()) return baseLevel;
    return std::prev(it)->level;
}

int64_t KUartLine::NextFallingEdge(int64_t afterNs) const {
    auto it = std::upper_bound(edges.begin(), edges.end(), afterNs,
                               [](int64_t t, const Edge& e) { return t < e.timeNs; });
    for (; it != edges.end(); ++it)
        if (it->level == 0) return it->timeNs;
    return -1;
}

void KUartLine::Prune() {
    // Nothing at or before the hunting point is looked at again; its level is all we keep.
    while (!edges.empty() && edges.front().timeNs <= huntFromNs) {
        baseLevel = edges.front().level;
        edges.pop_front();
    }
}

bool KUartLine::ReceiveNext(int64_t untilNs, Received& out) {
    const uint32_t baud = receiverBaud;
    for (;;) {
        const int64_t edge = NextFallingEdge(huntFromNs);
        if (edge < 0) return false;
        const int64_t startSample = edge + HalfBitOffsetNs(baud, 1);
        if (startSample > untilNs) return false;
        if (LevelAt(startSample) != 0) {
            // A glitch, not a start bit: hunt on from where it was seen to be high.
            ++falseStartCount;
            huntFromNs = startSample;
            decodedToNs = std::max(decodedToNs, startSample);
            Prune();
            continue;
        }
        const int64_t stopSample = edge + HalfBitOffsetNs(baud, 2 * 9 + 1);
        if (stopSample > untilNs) return false;
        uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (LevelAt(edge + HalfBitOffsetNs(baud, 2 * (bit + 1) + 1)) != 0)
                byte = static_cast<uint8_t>(byte | (1u << bit));
        }
        const bool framingError = LevelAt(stopSample) == 0;
        huntFromNs = stopSample;
        decodedToNs = std::max(decodedToNs, stopSample);
        Prune();
        if (framingError) {
            ++framingErrorCount;
            if (options.framingErrors == FramingErrorPolicy::Drop) continue;
            if (options.framingErrors == FramingErrorPolicy::DeliverNul) byte = 0;
        }
        out.timeNs = stopSample;
        out.byte = byte;
        out.framingError = framingError;
        return true;
    }
}

std::vector<KUartLine::Received> KUartLine::Receive(int64_t untilNs) {
    std::vector<Received> result;
    Received r;
    while (ReceiveNext(untilNs, r)) result.push_back(r);
    return result;
}

void KUartLine::SetReceiverBaud(uint32_t baud) { receiverBaud = baud == 0 ? 1 : baud; }

void KUartLine::ResetReceiver(int64_t timeNs, uint32_t baud) {
    SetReceiverBaud(baud);
    // An edge exactly at `timeNs` still counts as the first one seen.
    huntFromNs = std::max(huntFromNs, timeNs - 1);
    Prune();
}
