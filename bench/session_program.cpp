// How much a real session costs beyond its own waits, and what monitoring costs.
//
// A simulated receiver runs in a separate `velinor sim` process behind a pseudo-terminal; this
// process runs a baud session over the real serial link to it. Measured:
//  - overhead ratio: wall time from Start to the receiver confirmed at the target rate, over the
//    time the session's own waits account for (every sleep of the session's worker thread:
//    settle time, reply polls, step pauses), for each Leica type;
//  - CPU of this process (session worker and monitor reader) per minute of monitoring.
#ifdef _WIN32
int main() { return 0; }
#else
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "comm/KSerialComm.h"
#include "monitors/KStreamMonitor.h"
#include "session/KBaudSession.h"
#include "time/KClock.h"

namespace {

// The real clock, adding up the waits of the session's worker. The monitors' reader threads
// sleep exactly their idle time; every other sleep in the process is the worker's.
class CountingClock : public KClock {
public:
    void Sleep(int32_t ms) override {
        real.Sleep(ms);
        // Counted once over, so a wait still under way at the confirmation does not count.
        if (ms != KStreamMonitor::kIdleSleepMs) sleptMs += ms;
    }
    int64_t NowMs() override { return real.NowMs(); }
    int64_t WallSeconds() override { return real.WallSeconds(); }
    std::atomic<int64_t> sleptMs{0};

private:
    KRealClock real;
};

struct Simulator {
    pid_t pid = -1;
    std::string path;
};

Simulator StartSimulator(int type, int baud) {
    int fds[2];
    Simulator sim;
    if (pipe(fds) != 0) return sim;
    sim.pid = fork();
    if (sim.pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        const std::string t = std::to_string(type), b = std::to_string(baud);
        execl(VELINOR_PROGRAM, VELINOR_PROGRAM, "sim", "--receiver", t.c_str(), "--baud", b.c_str(), nullptr);
        _exit(127);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') sim.path += c;
    close(fds[0]);
    return sim;
}

void StopSimulator(Simulator& sim) {
    if (sim.pid > 0) {
        kill(sim.pid, SIGINT);
        waitpid(sim.pid, nullptr, 0);
    }
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int monitorSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    CountingClock clock;
    KClock::Install(&clock);
    struct Case {
        int type, start, target;
        const char* name;
    } cases[] = {{4, 9600, 115200, "Leica CRS1000"},
                 {5, 2400, 115200, "Leica GMX900"},
                 {6, 19200, 57600, "Leica GPS1200"},
                 {7, 4800, 115200, "Leica System 500"}};
    std::printf("%-18s %8s %8s %10s %10s %8s\n", "receiver", "from", "to", "wall ms", "waits ms", "ratio");
    for (const Case& c : cases) {
        Simulator sim = StartSimulator(c.type, c.start);
        if (sim.path.empty()) {
            std::fprintf(stderr, "could not start the simulator\n");
            return 1;
        }
        KBaudSession session;
        const std::string device = sim.path;
        session.SetLinkFactory([device] {
            auto link = std::make_unique<KSerialComm>();
            link->DevicePath = device;
            return link;
        });
        clock.sleptMs = 0;
        const auto start = std::chrono::steady_clock::now();
        session.Start(0, c.target, 0, c.type);
        while (!session.IsConfirmed()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const double wall =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const auto waits = static_cast<double>(clock.sleptMs.load());
        std::printf("%-18s %8d %8d %10.0f %10.0f %8.3f\n", c.name, c.start, c.target, wall, waits, wall / waits);
        std::fflush(stdout);

        if (&c == &cases[3] && monitorSeconds > 0) {
            const double cpu0 = CpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(monitorSeconds));
            const double cpu = CpuSeconds() - cpu0;
            const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            std::printf("monitoring at %d baud for %.0f s: %.3f s CPU = %.2f%% of one core (%.2f s per minute)\n",
                        c.target, secs, cpu, 100.0 * cpu / secs, cpu * 60.0 / secs);
        }
        session.Stop();
        StopSimulator(sim);
    }
    KClock::Install(nullptr);
    return 0;
}
#endif
