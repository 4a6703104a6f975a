#pragma once
// Shared driver of the framer fuzz targets: the input's first bytes choose how the rest is cut
// into arrival chunks; every delivered message is handed to the target's checker, which aborts
// on a broken invariant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include <algorithm>
#include <vector>

#include "FuzzLink.h"
#include "monitors/KStreamMonitor.h"

// Aborts, telling what broke in which message and its first bytes; the fuzzer keeps the input.
[[noreturn]] inline void FailMessage(const char* protocol, const char* what, const uint8_t* m, size_t n) {
    std::fprintf(stderr, "%s message broken (%s), %zu bytes:", protocol, what, n);
    for (size_t i = 0; i < n && i < 64; ++i) std::fprintf(stderr, " %02X", m[i]);
    std::fprintf(stderr, "\n");
    std::abort();
}

// The stream the framer is fed, as a check sees it: each message must be a run of it that starts
// after the end of the message before (a rewind never hands out bytes twice).
class FramerInput {
public:
    static FramerInput& Current() {
        static FramerInput input;
        return input;
    }
    void Reset(const uint8_t* data, size_t size) {
        end = data + size;
        cursor = data;
    }
    bool FollowsTheLastMessage(const uint8_t* m, size_t n) {
        const uint8_t* at = std::search(cursor, end, m, m + n);
        if (at == end) return false;
        cursor = at + n;
        return true;
    }

private:
    const uint8_t* end = nullptr;
    const uint8_t* cursor = nullptr;
};

template <typename Monitor, typename Check>
int FuzzFramer(const uint8_t* data, size_t size, size_t bufferCapacity, Check check) {
    if (size < 2) return 0;
    const uint8_t chunkSeed = data[0];
    const bool bounded = (data[1] & 1) != 0;
    data += 2;
    size -= 2;
    FramerInput::Current().Reset(data, size);

    FuzzLink link(data, size);
    Monitor monitor;
    monitor.Start(&link, false, "Fuzz");
    monitor.boundedScan = bounded;

    size_t delivered = 0;
    size_t offset = 0;
    uint64_t popped = 0;
    const size_t stepLimit = 8 * (size + 64);
    uint32_t state = chunkSeed * 2654435761u + 1;
    // Runs once per framer step, so it is kept out of the coverage tracing (the chunk loop below
    // stays traced): the trace of its own comparisons cost more than many a step. The queue is
    // only looked at when the framer has queued something since the last look.
    auto drain = [&]() VELINOR_UNTRACED {
        size_t steps = 0;
        for (;;) {
            const bool progressed = monitor.ReadStep();
            bool took = false;
            while (popped < monitor.MessagesFramed()) {
                auto message = monitor.PopMessage();
                if (!message) break;
                ++popped;
                took = true;
                if (message->length <= 0 || static_cast<size_t>(message->length) > bufferCapacity) {
                    std::fprintf(stderr, "message length %d outside 1..%zu\n", message->length, bufferCapacity);
                    std::abort();
                }
                delivered += static_cast<size_t>(message->length);
                check(message->data.get(), static_cast<size_t>(message->length));
            }
            if (!progressed && !took) break;
            // Every step consumes input or ends a frame: more steps than bytes means a spin.
            if (++steps > stepLimit) {
                std::fprintf(stderr, "framer spins without consuming input\n");
                std::abort();
            }
        }
    };
    while (offset < size) {
        state = state * 1103515245u + 12345u;
        const size_t chunk = chunkSeed == 0 ? size : 1 + (state >> 16) % (chunkSeed % 64 + 1);
        const size_t n = chunk < size - offset ? chunk : size - offset;
        link.Release(n);
        offset += n;
        drain();
    }
    drain();
    // Messages are cut from the input: together they never hold more bytes than came in.
    if (delivered > size) {
        std::fprintf(stderr, "delivered %zu bytes from %zu of input\n", delivered, size);
        std::abort();
    }
    monitor.Stop();
    return 0;
}
