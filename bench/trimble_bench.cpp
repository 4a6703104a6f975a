// Trimble framer throughput, one thread driving ReadStep over a recorded stream (no reader
// thread), popping and freeing each delivered packet as a receiver would.
#include "FramerBench.h"

#include <random>

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



void BM_TrimbleValidPackets(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KTrimbleStreamMonitor>(state, stream);
}
void BM_TrimbleNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KTrimbleStreamMonitor>(state, stream);
}

} // namespace

BENCHMARK(BM_TrimbleValidPackets)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrimbleNoise)->Unit(benchmark::kMillisecond);
