#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// The lock of one registry port: re-entrant for the thread that holds it, waited for by others.
// It knows its holder, so that an unlock from a thread that does not hold it is refused instead
// of undefined. The registry shares it with the link that holds it, so a registry ended while a
// link is open never destroys a held lock.
class KPortLock {
public:
    KPortLock() = default;
    KPortLock(const KPortLock&) = delete;
    KPortLock& operator=(const KPortLock&) = delete;

    void Lock();
    // False (and nothing changes) when the calling thread does not hold the lock.
    bool Unlock();

private:
    std::mutex state;
    std::condition_variable released;
    std::thread::id holder;
    int32_t depth = 0;
};
