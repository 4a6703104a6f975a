// The cost that the monitor framework adds to every framed message: the copy into a
// StreamMessage, the locked push and the locked pop on the receiver's side.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "monitors/KStreamMonitor.h"
#include "support/QueueOnlyMonitor.h"

namespace {

std::vector<uint8_t> Frame(size_t size) {
    std::vector<uint8_t> frame(size);
    for (size_t i = 0; i < size; ++i) frame[i] = static_cast<uint8_t>(i * 31 + 7);
    return frame;
}

// One message through the queue at a time, as when the receiver keeps up.
void BM_PushPop(benchmark::State& state) {
    const auto frame = Frame(static_cast<size_t>(state.range(0)));
    QueueOnly monitor;
    for (auto _ : state) {
        monitor.PushMessage(std::make_unique<StreamMessage>(frame.data(), static_cast<int32_t>(frame.size())));
        auto message = monitor.PopMessage();
        benchmark::DoNotOptimize(message->data.get());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
// Typical sizes: short replies (16), NMEA-like lines and binary records (64 to 256), long
// binary logs (1024, 4096).
BENCHMARK(BM_PushPop)->Arg(16)->Arg(64)->Arg(256)->Arg(1024)->Arg(4096);

// A burst of messages queued before the receiver looks, then taken in one go.
void BM_PushBurstThenPop(benchmark::State& state) {
    const auto frame = Frame(64);
    const auto burst = static_cast<int>(state.range(0));
    QueueOnly monitor;
    for (auto _ : state) {
        for (int i = 0; i < burst; ++i)
            monitor.PushMessage(std::make_unique<StreamMessage>(frame.data(), static_cast<int32_t>(frame.size())));
        while (auto message = monitor.PopMessage()) benchmark::DoNotOptimize(message->data.get());
    }
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_PushBurstThenPop)->Arg(100)->Arg(10000);

// A full queue: every push also deletes the oldest message.
void BM_PushIntoFullQueue(benchmark::State& state) {
    const auto frame = Frame(64);
    QueueOnly monitor;
    for (size_t i = 0; i < KStreamMonitor::kQueueCapacity; ++i)
        monitor.PushMessage(std::make_unique<StreamMessage>(frame.data(), 64));
    for (auto _ : state)
        monitor.PushMessage(std::make_unique<StreamMessage>(frame.data(), 64));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PushIntoFullQueue);

// The receiver's idle poll: a count and a pop on an empty queue.
void BM_PollEmptyQueue(benchmark::State& state) {
    QueueOnly monitor;
    for (auto _ : state) {
        benchmark::DoNotOptimize(monitor.MessageCount());
        benchmark::DoNotOptimize(monitor.PopMessage());
    }
}
BENCHMARK(BM_PollEmptyQueue);

} // namespace
