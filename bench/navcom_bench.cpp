// NavCom framer throughput: ReadStep driven in one thread over a recorded stream, the messages
// popped and freed as a receiver would.
#include "FramerBench.h"

#include <random>

#include "monitors/KNavComStreamMonitor.h"
#include "support/NavComFrames.h"

namespace {

constexpr size_t kStreamBytes = 8 << 20;

// NavCom engine output: mostly tens of bytes, now and then a few hundred.
Bytes ValidStream() {
    std::mt19937 random(1);
    Bytes stream;
    while (stream.size() < kStreamBytes) {
        const size_t size = random() % 8 == 0 ? 200 + random() % 400 : 12 + random() % 80;
        const Bytes frame = navcom::FrameOfSize(size, static_cast<uint8_t>(0xB0 + random() % 16), static_cast<uint8_t>(random()));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}



void BM_NavComValidStream(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KNavComStreamMonitor>(state, stream);
}
BENCHMARK(BM_NavComValidStream)->Unit(benchmark::kMillisecond);

void BM_NavComNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KNavComStreamMonitor>(state, stream);
}
BENCHMARK(BM_NavComNoise)->Unit(benchmark::kMillisecond);

} // namespace
