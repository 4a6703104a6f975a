#include "comm/KPortLock.h"

void KPortLock::Lock() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(state);
    released.wait(guard, [&] { return depth == 0 || holder == self; });
    holder = self;
    ++depth;
}

bool KPortLock::Unlock() {
    std::lock_guard<std::mutex> guard(state);
    if (depth == 0 || holder != std::this_thread::get_id()) return false;
    if (--depth == 0) {
        holder = std::thread::id();
        released.notify_one();
    }
    return true;
}
