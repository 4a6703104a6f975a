// Novatel framer throughput, one thread driving ReadStep over a recorded stream (no reader
// thread), popping and freeing each delivered log as a receiver would.
#include "FramerBench.h"

#include <random>

#include "monitors/KNovatelStreamMonitor.h"
#include "support/NovatelFrames.h"

namespace {

constexpr size_t kStreamBytes = 16u << 20;

// Logs of the sizes a receiver typically sends: BESTPOS, TIME, PSRXYZ, BESTSATS, RANGECMP of a
// dozen and of two dozen channels, RAWEPHEM.
Bytes ValidStream() {
    const size_t sizes[] = {72, 44, 112, 340, 292, 580, 102};
    const uint16_t ids[] = {42, 101, 243, 1194, 140, 140, 41};
    std::mt19937 random(1);
    Bytes stream;
    stream.reserve(kStreamBytes + 4096);
    for (size_t i = 0; stream.size() < kStreamBytes; ++i) {
        Bytes data(sizes[i % 7]);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        NovatelHeader header;
        header.messageId = ids[i % 7];
        header.sequence = static_cast<uint16_t>(i);
        header.milliseconds = static_cast<uint32_t>(i * 50);
        const Bytes log = NovatelLog(data, header);
        stream.insert(stream.end(), log.begin(), log.end());
    }
    return stream;
}



void BM_NovatelValidLogs(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KNovatelStreamMonitor>(state, stream);
}
void BM_NovatelNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KNovatelStreamMonitor>(state, stream);
}

} // namespace

BENCHMARK(BM_NovatelValidLogs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NovatelNoise)->Unit(benchmark::kMillisecond);
