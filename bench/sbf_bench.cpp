// Septentrio's SBF framer throughput, one thread driving ReadStep over a recorded stream (no
// reader thread): SBF blocks of typical sizes, the same with command replies and their prompts
// between them, and noise.
#include "FramerBench.h"

#include <random>
#include <string>

#include "monitors/KSeptentrioStreamMonitor.h"
#include "sim/KSeptentrioDevice.h"

namespace {

constexpr size_t kStreamBytes = 16u << 20;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Messages(bool withReplies) {
    const Bytes reply = Text("$R: gcs, COM1\r\n  COMSettings, COM1, baud115200, bits8, No, bit1, none\r\nCOM1>");
    return TypicalMessages(kStreamBytes, [&](size_t size, std::mt19937& random) {
        Bytes body(size > 8 ? size - 8 : 0);
        for (uint8_t& b : body) b = static_cast<uint8_t>(random());
        const Bytes block = KSeptentrioDevice::SbfBlock(static_cast<uint16_t>(4000 + random() % 100), body);
        return withReplies && random() % 8 == 0 ? Concat({block, reply}) : block;
    });
}

void BM_SbfValidBlocks(benchmark::State& state) {
    static const Bytes stream = Messages(false);
    FrameRecording<KSeptentrioStreamMonitor>(state, stream);
}
void BM_SbfAmidReplies(benchmark::State& state) {
    static const Bytes stream = Messages(true);
    FrameRecording<KSeptentrioStreamMonitor>(state, stream);
}
void BM_SbfNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KSeptentrioStreamMonitor>(state, stream);
}

} // namespace

BENCHMARK(BM_SbfValidBlocks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SbfAmidReplies)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SbfNoise)->Unit(benchmark::kMillisecond);
