// SiRF binary framer throughput: ReadStep driven in one thread over a recorded stream, the messages
// popped and freed as a receiver would.
#include "FramerBench.h"

#include <random>

#include "monitors/KSiRFStreamMonitor.h"
#include "support/SiRFFrames.h"

namespace {

constexpr size_t kStreamBytes = 8 << 20;

// SiRF navigation and tracking messages.
Bytes ValidStream() {
    return TypicalMessages(kStreamBytes, [](size_t size, std::mt19937& random) { return sirf::FrameOfSize(size, static_cast<uint8_t>(random())); });
}

void BM_SirfValidStream(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KSiRFStreamMonitor>(state, stream);
}
BENCHMARK(BM_SirfValidStream)->Unit(benchmark::kMillisecond);

void BM_SirfNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KSiRFStreamMonitor>(state, stream);
}
BENCHMARK(BM_SirfNoise)->Unit(benchmark::kMillisecond);

} // namespace
