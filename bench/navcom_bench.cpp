// NavCom framer throughput: ReadStep driven in one thread over a recorded stream, the messages
// popped and freed as a receiver would.
#include "FramerBench.h"

#include <random>

#include "monitors/KNavComStreamMonitor.h"
#include "support/NavComFrames.h"

namespace {

constexpr size_t kStreamBytes = 8 << 20;

// NavCom engine output.
Bytes ValidStream() {
    return TypicalMessages(kStreamBytes, [](size_t size, std::mt19937& random) { return navcom::FrameOfSize(size, static_cast<uint8_t>(0xB0 + random() % 16), static_cast<uint8_t>(random())); });
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
