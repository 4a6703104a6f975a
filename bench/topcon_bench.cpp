// Topcon framer throughput: ReadStep driven in one thread over a recorded stream, messages
// popped and freed as they come.
#include <benchmark/benchmark.h>

#include "comm/KRecordedComm.h"
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

void Drive(benchmark::State& state, const Bytes& stream) {
    KRecordedComm link(stream, "bench");
    link.Open(0);
    KTopconStreamMonitor monitor;
    size_t messages = 0;
    for (auto _ : state) {
        link.Seek(0, 0);
        monitor.Start(&link, false, "Bench");
        // A recording has everything arrived: a step without progress means the end.
        while (monitor.ReadStep()) {
            while (auto message = monitor.PopMessage()) ++messages;
        }
        monitor.Stop();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["messages"] = benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kIsRate);
}

void BM_TopconValid(benchmark::State& state) {
    static const Bytes stream = ValidStream();
    Drive(state, stream);
}
BENCHMARK(BM_TopconValid)->Unit(benchmark::kMillisecond);

void BM_TopconNoise(benchmark::State& state) {
    static const Bytes stream = PseudoRandomBytes(kStreamSize, 12345);
    Drive(state, stream);
}
BENCHMARK(BM_TopconNoise)->Unit(benchmark::kMillisecond);

} // namespace
