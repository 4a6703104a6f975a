#include "PortLockProbe.h"

#include <chrono>
#include <future>

#include "comm/KPortRegistry.h"

bool LockableFromAnotherThread(int32_t slot, int timeoutMs) {
    auto probe = std::async(std::launch::async, [slot] {
        KPortRegistry& registry = KPortRegistry::Instance();
        const bool locked = registry.LockPort(slot);
        if (locked) registry.UnlockPort(slot);
        return locked;
    });
    if (probe.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready) return probe.get();
    for (int i = 0; i < 8; ++i) {
        KPortRegistry::Instance().UnlockPort(slot);
        if (probe.wait_for(std::chrono::seconds(1)) == std::future_status::ready) break;
    }
    probe.wait();
    return false;
}
