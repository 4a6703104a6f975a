// Trimble framer throughput, one thread driving ReadStep over a recorded stream (no reader
// thread), popping and freeing each delivered packet as a receiver would.
#include <benchmark/benchmark.h>

#include <random>

#include "comm/KRecordedComm.h"
#include "monitors/KTrimbleStreamMonitor.h"
#include "support/TrimbleFrames.h"

namespace {

constexpr size_t kStreamBytes = 16u << 20;

// Packets of the sizes a receiver typically sends: GSOF pages, RT17 records, short replies.
Bytes ValidStream() {
    const size_t sizes[] = {248, 120, 60, 200, 8, 248, 90};
    const uint8_t types[] = {0x40, 0x57, 0x57, 0x40, 0x82, 0x40, 0x57};
    std::mt19937 random(1);
    Bytes stream;
    stream.reserve(kStreamBytes + 300);
    for (size_t i = 0; stream.size() < kStreamBytes; ++i) {
        Bytes data(sizes[i % 7]);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        const Bytes packet = TrimblePacket(types[i % 7], data, 0x28);
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    return stream;
}

Bytes Noise() {
    std::mt19937 random(2);
    Bytes stream(kStreamBytes);
    for (auto& b : stream) b = static_cast<uint8_t>(random());
    return stream;
}

void Frame(benchmark::State& state, const Bytes& stream) {
    KRecordedComm link(stream);
    link.Open(0);
    KTrimbleStreamMonitor monitor;
    size_t messages = 0;
    for (auto _ : state) {
        link.Seek(0, 0);
        monitor.Start(&link, false, "Bench");
        size_t steps = 0;
        while (monitor.ReadStep()) {
            if ((++steps & 1023) == 0)
                while (auto message = monitor.PopMessage()) ++messages;
        }
        while (auto message = monitor.PopMessage()) ++messages;
        monitor.Stop();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["messages"] = benchmark::Counter(static_cast<double>(messages) / static_cast<double>(state.iterations()));
}

void BM_TrimbleValidPackets(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    Frame(state, stream);
}
void BM_TrimbleNoise(benchmark::State& state) {
    static const Bytes stream = Noise();
    Frame(state, stream);
}

} // namespace

BENCHMARK(BM_TrimbleValidPackets)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrimbleNoise)->Unit(benchmark::kMillisecond);
