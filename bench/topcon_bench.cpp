// Topcon framer throughput: ReadStep driven in one thread over a recorded stream, messages
// popped and freed as they come.
#include "FramerBench.h"

#include "monitors/KTopconStreamMonitor.h"
#include "support/TopconFrames.h"

namespace {

constexpr size_t kStreamSize = 16u << 20;

// One receiver epoch as a GREIS default set sends it, with a raw-data block: about 80 bytes
// a message on average.
Bytes Epoch(uint32_t seed) {
    auto rnd = [&](size_t n) { return PseudoRandomBytes(n, seed++); };
    return Concat({WithCrLf(TopconChecked("~~", rnd(4))),
                   WithCrLf(TopconMessage("GT", rnd(7))),
                   WithCrLf(TopconMessage("PV", rnd(46))),
                   WithCrLf(TopconMessage("SG", rnd(18))),
                   WithCrLf(TopconMessage("DP", rnd(18))),
                   WithCrLf(TopconMessage("SI", rnd(19))),
                   WithCrLf(TopconMessage("EL", rnd(19))),
                   WithCrLf(TopconMessage("AZ", rnd(19))),
                   WithCrLf(TopconMessage("EC", rnd(19))),
                   WithCrLf(TopconMessage("SS", rnd(20))),
                   WithCrLf(TopconChecked("rM", rnd(300))),
                   WithCrLf(TopconMessage("RC", rnd(137))),
                   WithCrLf(TopconMessage("R1", rnd(137))),
                   WithCrLf(TopconMessage("P1", rnd(137))),
                   WithCrLf(TopconChecked("GE", rnd(120))),
                   WithCrLf(TopconChecked("NE", rnd(100))),
                   WithCrLf(TopconMessage("::", rnd(5)))});
}

Bytes ValidStream() {
    Bytes stream;
    for (uint32_t seed = 0; stream.size() < kStreamSize; seed += 100) {
        const Bytes epoch = Epoch(seed);
        stream.insert(stream.end(), epoch.begin(), epoch.end());
    }
    return stream;
}


void BM_TopconValid(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    FrameRecording<KTopconStreamMonitor>(state, stream);
}
BENCHMARK(BM_TopconValid)->Unit(benchmark::kMillisecond);

void BM_TopconNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamSize, 12345);
    FrameRecording<KTopconStreamMonitor>(state, stream);
}
BENCHMARK(BM_TopconNoise)->Unit(benchmark::kMillisecond);

} // namespace
