#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class KSimWorld;

// Runs a simulated world in real time on a thread of its own: every tick it advances the
// world to the time elapsed since Start (continuing from the world's current time) and then
// calls the tick hook, if any, with that time. For front ends where no pseudo-terminal exists
// (`velinor demo` on Windows), and the engine under the pseudo-terminal simulator. It uses the
// steady clock directly: real time even while a test has installed a virtual KClock.
class KRealTimeDriver {
public:
    using TickHook = std::function<void(int64_t nowNs)>;

    explicit KRealTimeDriver(KSimWorld& world, int32_t tickMicroseconds = 1000);
    ~KRealTimeDriver();
    KRealTimeDriver(const KRealTimeDriver&) = delete;
    KRealTimeDriver& operator=(const KRealTimeDriver&) = delete;

    // Set before Start; runs on the driver's thread after each advance.
    void SetTickHook(TickHook hook);
    // Set before Start. Idle mode: while nothing is on either line and the device's next wake
    // is later, the thread sleeps up to that wake (at most `longestSleepMs`) instead of ticking; whoever
    // feeds the world from outside calls Poke so it ticks at once. Only for a front end that
    // hands the world its host's bytes from the tick hook (the pseudo-terminal simulator): a
    // link writing into the world directly would write at a stale world time.
    void SetIdleUntilNextEvent(bool idle, int32_t longestSleepMs = 100);
    // Makes a sleeping driver tick now.
    void Poke();
    // Starts the thread; false when already running.
    bool Start();
    // Ends the thread (it never outlives the call); nothing when not running.
    void Stop();
    bool Running() const;

private:
    void Main();

    KSimWorld& world;
    const int32_t tickUs;
    TickHook hook;
    std::thread thread;
    mutable std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    bool running = false;
    bool idleUntilNextEvent = false;
    int64_t longestSleepNs = 0;
    bool poked = false;
};
