// The receiver simulator in virtual time: a full detection pass (eight rates, a 5000 ms ping
// at each, a streaming receiver answering at one of them) must cost well under a second.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "sim/KLeicaDevice.h"
#include "sim/KSimComm.h"
#include "sim/KSimLeicaParser.h"
#include "sim/KSimWorld.h"
#include "sim/KUartLine.h"
#include "sim/KVirtualClock.h"
#include "time/KClock.h"

namespace {

void DetectionPass(benchmark::State& state) {
    const int32_t sliceMs = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> ping = KSimLeicaParser::Frame({0x82, 0x00, 0x00, 0xC8, 0x85, 0x00, 0x00, 0x00});
    size_t bytesRead = 0;
    for (auto _ : state) {
        KVirtualClock clock(1700000000, sliceMs);
        KScopedClock scoped(clock);
        KSimWorld world(std::make_unique<KLeicaDevice>(KLeicaDevice::Model::GMX900, 57600));
        KSimComm link(world);
        clock.AddTickHook([&](int64_t now) {
            world.AdvanceTo(now * 1000000);
            uint8_t buffer[256];
            while (int32_t n = link.ReadAvailable(buffer, sizeof buffer)) bytesRead += static_cast<size_t>(n);
        });
        for (int32_t baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
            link.Close();
            link.BaudRate = baud;
            link.Open(0);
            link.Write(ping.data(), static_cast<uint32_t>(ping.size()));
            for (int i = 0; i < 50; ++i) clock.Sleep(100);  // the receiver's 100 ms reply polls
        }
        link.Close();
    }
    state.counters["virtual_s_per_wall_s"] =
        benchmark::Counter(40.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    benchmark::DoNotOptimize(bytesRead);
}
BENCHMARK(DetectionPass)->Arg(1)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);

// Line decoding throughput: one second of back-to-back bytes at 115200 read at another rate.
void LineThroughput(benchmark::State& state) {
    std::vector<uint8_t> data(11520);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37);
    const uint32_t rxBaud = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        KUartLine line(rxBaud);
        line.Transmit(0, 115200, data);
        benchmark::DoNotOptimize(line.Receive(INT64_C(2000000000)).size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(LineThroughput)->Arg(115200)->Arg(9600)->Unit(benchmark::kMillisecond);

} // namespace
