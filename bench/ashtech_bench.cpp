// Ashtech framer throughput: ReadStep driven in one thread over a recorded stream, frames
// popped and freed as they come.
#include "FramerBench.h"

#include "monitors/KAshtechStreamMonitor.h"
#include "support/AshtechFrames.h"
#include "support/TopconFrames.h"

namespace {

constexpr size_t kStreamSize = 16u << 20;

// One cycle of what an Ashtech receiver answers: binary responses and text lines of their
// usual sizes, about 75 bytes a frame.
Bytes Cycle(uint32_t seed) {
    return Concat({PashrLine("POS,0,03,183530.00,2037.76012,N,08704.07373,W,058.48,,359.4,000.0,"
                             "+000.0,2.2,2.2,0.0,1.0,BQ00*20"),
                   PashrLine("SAT,03,28,139,38,46,U,10,193,17,50,U,02,274,55,50,U*53"),
                   PashrLine("XMG,12,Solution valid*4A"),
                   AshtechFixed("MCA", seed), AshtechFixed("MCA", seed + 1), AshtechFixed("MCA", seed + 2),
                   AshtechFixed("PBN", seed + 3), AshtechFixed("MPC", seed + 4), AshtechFixed("SNV", seed + 5),
                   AshtechFixed("GBN", seed + 6),
                   GpxdrSentence("C,20.5,C,AIRTEMP,P,1013.25,B,BARO"),
                   PashrLine("ACK*3D"), PashrLine("PRT,A,9600*2B")});
}

Bytes ValidStream() {
    Bytes stream;
    for (uint32_t seed = 0; stream.size() < kStreamSize; seed += 10) {
        const Bytes cycle = Cycle(seed);
        stream.insert(stream.end(), cycle.begin(), cycle.end());
    }
    return stream;
}


void BM_AshtechValid(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KAshtechStreamMonitor>(state, stream);
}
BENCHMARK(BM_AshtechValid)->Unit(benchmark::kMillisecond);

void BM_AshtechNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamSize, 12345);
    FrameRecording<KAshtechStreamMonitor>(state, stream);
}
BENCHMARK(BM_AshtechNoise)->Unit(benchmark::kMillisecond);

} // namespace
