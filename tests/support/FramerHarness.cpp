#include "support/FramerHarness.h"

#include <cstdio>
#include <random>
#include <stdexcept>

#include "comm/KMemoryComm.h"
#include "monitors/KStreamMonitor.h"
#include "support/LogCapture.h"

std::vector<size_t> ChunkSizes(Chunking chunking, size_t total, uint32_t seed) {
    std::vector<size_t> sizes;
    switch (chunking) {
    case Chunking::OneByte: sizes.assign(total, 1); break;
    case Chunking::AllAtOnce: sizes.push_back(total); break;
    case Chunking::Random: {
        std::mt19937 random(seed);
        std::uniform_int_distribution<size_t> pick(1, 97);
        for (size_t done = 0; done < total;) {
            const size_t n = std::min(pick(random), total - done);
            sizes.push_back(n);
            done += n;
        }
        break;
    }
    }
    return sizes;
}

FramedRun RunFramer(KStreamMonitor& monitor, const Bytes& stream, Chunking chunking, uint32_t seed) {
    LogCapture capture;
    KMemoryComm link;
    link.Open(0);
    link.Stage(stream, ChunkSizes(chunking, stream.size(), seed));
    monitor.Start(&link, false, "Test");
    FramedRun run;
    auto drain = [&] {
        // Each step consumes at least one byte or ends a frame, so this always terminates;
        // the guard turns a framer that spins into a test failure instead of a hang.
        size_t guard = 0;
        while (monitor.ReadStep()) {
            if (++guard > 16 * (stream.size() + 16)) throw std::runtime_error("framer does not settle");
        }
        while (auto message = monitor.PopMessage())
            run.messages.emplace_back(message->data.get(), message->data.get() + message->length);
    };
    while (link.DeliverNext()) drain();
    drain();
    monitor.Stop();
    run.errors = capture.StreamErrors();
    return run;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Repeat(uint8_t value, size_t count) { return Bytes(count, value); }

Bytes Hex(const std::string& text) {
    Bytes out;
    unsigned value = 0;
    int digits = 0;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else {
            if (digits) throw std::invalid_argument("odd hex digit count");
            continue;
        }
        value = value * 16 + static_cast<unsigned>(v);
        if (++digits == 2) {
            out.push_back(static_cast<uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    if (digits) throw std::invalid_argument("odd hex digit count");
    return out;
}

std::string ToHex(const Bytes& bytes) {
    std::string out;
    char text[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(text, sizeof text, i ? " %02X" : "%02X", bytes[i]);
        out += text;
    }
    return out;
}

Bytes LE(uint64_t value, int bytes) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

uint64_t ReadLE(const Bytes& bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | bytes.at(at + i);
    return value;
}
