// SiRF binary framer throughput: ReadStep driven in one thread over a recorded stream, the messages
// popped and freed as a receiver would.
#include "FramerBench.h"

#include <random>

#include "monitors/KSBPStreamMonitor.h"
#include "support/SirfFrames.h"

namespace {

constexpr size_t kStreamBytes = 8 << 20;

// SiRF navigation and tracking messages: mostly tens of bytes, now and then a few hundred.
Bytes ValidStream() {
    std::mt19937 random(1);
    Bytes stream;
    while (stream.size() < kStreamBytes) {
        const size_t size = random() % 8 == 0 ? 200 + random() % 400 : 12 + random() % 80;
        const Bytes frame = sirf::FrameOfSize(size, static_cast<uint8_t>(random()));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}



void BM_SirfValidStream(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KSBPStreamMonitor>(state, stream);
}
BENCHMARK(BM_SirfValidStream)->Unit(benchmark::kMillisecond);

void BM_SirfNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KSBPStreamMonitor>(state, stream);
}
BENCHMARK(BM_SirfNoise)->Unit(benchmark::kMillisecond);

} // namespace
