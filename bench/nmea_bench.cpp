// MediaTek's NMEA framer throughput, one thread driving ReadStep over a recorded stream (no
// reader thread): sentences of typical sizes, the same broken up by binary bytes now and then
// (which drop what is held), and noise.
#include "FramerBench.h"

#include <algorithm>
#include <random>
#include <string>

#include "monitors/KMediaTekStreamMonitor.h"
#include "support/UbloxFrames.h"

namespace {

constexpr size_t kStreamBytes = 16u << 20;

// A sentence of about `size` bytes: a talker and type, then printable fields.
Bytes Sentence(size_t size, std::mt19937& random) {
    std::string body = random() % 4 == 0 ? "PMTK705,AXN_5.1.7_3333_18030500,0005,Quectel-L80,1.0" : "GNRMC";
    const size_t wanted = std::min<size_t>(size, KMediaTekStreamMonitor::kMaxSentence - 6);
    while (body.size() < wanted) body += "," + std::to_string(random() % 100000);
    return NmeaSentence(body.substr(0, std::max<size_t>(wanted, 5)));
}

Bytes Messages(bool withBinary) {
    return TypicalMessages(kStreamBytes, [&](size_t size, std::mt19937& random) {
        const Bytes sentence = Sentence(size, random);
        if (!withBinary || random() % 8 != 0) return sentence;
        return Concat({sentence, Bytes{0xB5, 0x62, 0x01, 0x07, 0x00}});
    });
}

void BM_NmeaValidSentences(benchmark::State& state) {
    static const Bytes stream = Messages(false);
    FrameRecording<KMediaTekStreamMonitor>(state, stream);
}
void BM_NmeaAmidBinary(benchmark::State& state) {
    static const Bytes stream = Messages(true);
    FrameRecording<KMediaTekStreamMonitor>(state, stream);
}
void BM_NmeaNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(kStreamBytes, 2);
    FrameRecording<KMediaTekStreamMonitor>(state, stream);
}

} // namespace

BENCHMARK(BM_NmeaValidSentences)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NmeaAmidBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NmeaNoise)->Unit(benchmark::kMillisecond);
