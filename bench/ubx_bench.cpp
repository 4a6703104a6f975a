// UBX framer throughput, one thread driving ReadStep over a recorded stream (no reader thread):
// UBX of typical sizes, the same with NMEA between the messages, and noise.
#include "FramerBench.h"

#include <random>

#include "monitors/KUbloxStreamMonitor.h"
#include "support/UbloxFrames.h"

namespace {

constexpr size_t kStreamBytes = 16u << 20;

Bytes Messages(bool withNmea) {
    const Bytes gga = NmeaSentence("GNGGA,000941.00,4404.13387,N,12118.85628,W,1,12,1.01,1144.8,M,-21.4,M,,");
    return TypicalMessages(kStreamBytes, [&](size_t size, std::mt19937& random) {
        Bytes payload(size);
        for (uint8_t& b : payload) b = static_cast<uint8_t>(random());
        const Bytes frame = UbxFrame(0x01, 0x07, payload);
        return withNmea ? Concat({frame, gga}) : frame;
    });
}

void BM_UbxValidMessages(benchmark::State& state) {
    static const Bytes stream = Messages(false);
    FrameRecording<KUbloxStreamMonitor>(state, stream);
}
void BM_UbxAmidNmea(benchmark::State& state) {
    static const Bytes stream = Messages(true);
    FrameRecording<KUbloxStreamMonitor>(state, stream);
}
void BM_UbxNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KUbloxStreamMonitor>(state, stream);
}

} // namespace

BENCHMARK(BM_UbxValidMessages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UbxAmidNmea)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UbxNoise)->Unit(benchmark::kMillisecond);
