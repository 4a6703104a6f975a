#include "support/SessionSoak.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "comm/KBaudRates.h"
#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "session/KBaudSession.h"
#include "sim/KRealTimeDriver.h"
#include "sim/KSimComm.h"
#include "sim/KSimWorld.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Cycle {
    bool started = false;
    bool confirmed = false;
    double stopMs = 0;
};

Cycle RunCycle(int32_t index, const SessionSoak::Options& options) {
    const auto& families = ReceiverFamilies();
    const KReceiverFamily& family = families[static_cast<size_t>(index) % families.size()];
    std::mt19937_64 random(options.seed * 1000003u + static_cast<uint64_t>(index));
    auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
    const int32_t type =
        family.types[(static_cast<size_t>(index) / families.size()) % family.types.size()].typeId;
    std::vector<int32_t> rates;  // the type's, where a port of this system can be set to them
    for (int32_t rate : FindCatalogueType(type)->rates)
        if (SystemSetsRate(rate)) rates.push_back(rate);
    const int32_t deviceBaud = rates[pick(rates.size())];
    const int32_t target = rates[pick(rates.size())];
    // Told the right rate, a wrong one, or nothing.
    const int32_t lastKnown =
        std::array<int32_t, 3>{0, deviceBaud, rates[pick(rates.size())]}[pick(3)];
    const auto lifeMs =
        static_cast<int64_t>(random() % static_cast<uint64_t>(options.longestLifeMs + 1));

    Cycle cycle;
    std::string error;
    auto world = KSimFactory::CreateWorld(type, deviceBaud, {}, {}, error);
    if (!world) return cycle;
    KRealTimeDriver driver(*world);
    driver.Start();
    KBaudSession session;
    KSimWorld& line = *world;
    session.SetLinkFactory([&line] { return std::make_unique<KSimComm>(line); });
    cycle.started = session.Start(0, target, lastKnown, type);
    std::this_thread::sleep_for(std::chrono::milliseconds(lifeMs));
    const auto stopping = Clock::now();
    cycle.confirmed = session.Stop();
    cycle.stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopping).count();
    driver.Stop();
    return cycle;
}

} // namespace

SessionSoak::Figures SessionSoak::Run(const Options& options) {
    Figures figures;
    // A sanitizer may start a thread of its own with the process's first: have that happen first.
    std::thread([] {}).join();
    figures.threadsBefore = CountEntries("/proc/self/task");
    figures.fdsBefore = CountEntries("/proc/self/fd");
    std::vector<Cycle> cycles(static_cast<size_t>(std::max(options.cycles, 0)));
    std::atomic<int32_t> next{0};
    const auto started = Clock::now();
    std::vector<std::thread> lanes;
    for (int32_t lane = 0; lane < std::max(options.lanes, 1); ++lane)
        lanes.emplace_back([&] {
            for (int32_t i = next++; i < options.cycles; i = next++)
                cycles[static_cast<size_t>(i)] = RunCycle(i, options);
        });
    for (std::thread& lane : lanes)
        lane.join();
    figures.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    figures.threadsAfter = CountEntries("/proc/self/task");
    figures.fdsAfter = CountEntries("/proc/self/fd");
    for (const Cycle& cycle : cycles) {
        ++figures.cycles;
        if (!cycle.started) ++figures.startsRefused;
        if (cycle.confirmed) ++figures.confirmedAtStop;
        if (cycle.stopMs > options.stopBoundMs) ++figures.stopsOverBound;
        figures.stopMs.push_back(cycle.stopMs);
    }
    return figures;
}

int32_t SessionSoak::CountEntries(const char* folder) {
    int32_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

double SessionSoak::Figures::StopPercentile(double p) const {
    if (stopMs.empty()) return 0;
    std::vector<double> sorted = stopMs;
    std::sort(sorted.begin(), sorted.end());
    const auto at = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(at, 1)) - 1];
}

std::string SessionSoak::Figures::Report() const {
    char text[512];
    std::snprintf(
        text, sizeof text,
        "cycles %d (start refused %d, confirmed at stop %d) in %.1f s; Stop: max %.0f ms, 99th "
        "percentile "
        "%.0f ms, median %.0f ms, %d over bound; threads %d -> %d; descriptors %d -> %d\n",
        cycles, startsRefused, confirmedAtStop, seconds, StopPercentile(100), StopPercentile(99),
        StopPercentile(50), stopsOverBound, threadsBefore, threadsAfter, fdsBefore, fdsAfter);
    return text;
}

bool SessionSoak::Figures::Clean() const {
    return startsRefused == 0 && stopsOverBound == 0 && threadsAfter == threadsBefore &&
           fdsAfter == fdsBefore;
}
