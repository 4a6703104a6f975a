// LB2 framer throughput: ReadStep driven in one thread over a recorded stream, the messages
// popped and freed as a receiver would.
#include <benchmark/benchmark.h>

#include <random>

#include "comm/KRecordedComm.h"
#include "monitors/KLB2StreamMonitor.h"
#include "support/LB2Frames.h"

namespace {

constexpr size_t kStreamBytes = 8 << 20;

// Leica replies and position messages: mostly tens of bytes, now and then a few hundred.
Bytes ValidStream() {
    std::mt19937 random(1);
    Bytes stream;
    while (stream.size() < kStreamBytes) {
        const size_t size = random() % 8 == 0 ? 200 + random() % 400 : 12 + random() % 80;
        const Bytes frame = lb2::FrameOfSize(size, static_cast<uint8_t>(random()));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

Bytes Noise() {
    std::mt19937 random(2);
    Bytes stream(kStreamBytes);
    for (uint8_t& b : stream) b = static_cast<uint8_t>(random());
    return stream;
}

void Frame(benchmark::State& benchState, const Bytes& stream) {
    KRecordedComm link(stream);
    link.Open(0);
    size_t messages = 0;
    for (auto _ : benchState) {
        link.Seek(0, 0);
        KLB2StreamMonitor monitor;
        monitor.Start(&link, false, "Bench");
        uint32_t steps = 0;
        while (monitor.ReadStep()) {
            if ((++steps & 255) == 0)
                while (auto message = monitor.PopMessage()) ++messages;
        }
        while (auto message = monitor.PopMessage()) ++messages;
        monitor.Stop();
    }
    benchState.SetBytesProcessed(static_cast<int64_t>(benchState.iterations() * stream.size()));
    benchState.counters["messages"] = benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kAvgIterations);
}

void BM_LB2ValidStream(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    Frame(state, stream);
}
BENCHMARK(BM_LB2ValidStream)->Unit(benchmark::kMillisecond);

void BM_LB2Noise(benchmark::State& state) {
    static const Bytes stream = Noise();
    Frame(state, stream);
}
BENCHMARK(BM_LB2Noise)->Unit(benchmark::kMillisecond);

} // namespace
