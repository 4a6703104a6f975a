// LB2 framer throughput: ReadStep driven in one thread over a recorded stream, the messages
// popped and freed as a receiver would.
#include "FramerBench.h"

#include <random>

#include "monitors/KLeicaStreamMonitor.h"
#include "support/LeicaFrames.h"

namespace {

constexpr size_t kStreamBytes = 8 << 20;

// Leica replies and position messages.
Bytes ValidStream() {
    return TypicalMessages(kStreamBytes, [](size_t size, std::mt19937& random) { return leica::FrameOfSize(size, static_cast<uint8_t>(random())); });
}

void BM_LB2ValidStream(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KLeicaStreamMonitor>(state, stream);
}
BENCHMARK(BM_LB2ValidStream)->Unit(benchmark::kMillisecond);

void BM_LB2Noise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KLeicaStreamMonitor>(state, stream);
}
BENCHMARK(BM_LB2Noise)->Unit(benchmark::kMillisecond);

} // namespace
