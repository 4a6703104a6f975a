#pragma once
// What every framer benchmark does: ReadStep driven in one thread over a recorded stream (every
// byte already arrived), the messages popped and freed now and then as a receiver would.
#include <benchmark/benchmark.h>

#include <random>

#include "comm/KRecordedComm.h"
#include "support/FramerHarness.h"

// Random bytes: what a framer hunts through on a line at the wrong rate.
inline Bytes NoiseStream(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes stream(size);
    for (uint8_t& b : stream) b = static_cast<uint8_t>(random());
    return stream;
}

// A stream of `size` bytes of valid messages of typical sizes: mostly tens of bytes, now and then
// a few hundred. `frame(size, random)` builds one message of about `size` bytes.
template <typename Build>
Bytes TypicalMessages(size_t size, Build frame) {
    std::mt19937 random(1);
    Bytes stream;
    while (stream.size() < size) {
        const size_t length = random() % 8 == 0 ? 200 + random() % 400 : 12 + random() % 80;
        const Bytes message = frame(length, random);
        stream.insert(stream.end(), message.begin(), message.end());
    }
    return stream;
}

template <typename Monitor>
void FrameRecording(benchmark::State& state, const Bytes& stream) {
    KRecordedComm link(stream, "bench");
    link.Open(0);
    Monitor monitor;
    size_t messages = 0;
    for (auto _ : state) {
        link.Seek(0, 0);
        monitor.Start(&link, false, "Bench");
        uint32_t steps = 0;
        while (monitor.ReadStep()) {
            if ((++steps & 255) == 0)
                while (auto message = monitor.PopMessage()) ++messages;
        }
        while (auto message = monitor.PopMessage()) ++messages;
        monitor.Stop();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["messages"] = benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kAvgIterations);
}
