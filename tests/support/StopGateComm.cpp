#include "support/StopGateComm.h"

#include <chrono>
#include <cstring>
#include <thread>

StopGateComm::StopGateComm(Bytes stream, size_t gate, std::function<bool()> releaseWhen)
    : bytes(std::move(stream)), holdAt(gate), release(std::move(releaseWhen)) {
    linkName = "gate";
}

bool StopGateComm::Open(int32_t) {
    isOpen = true;
    return true;
}

bool StopGateComm::Close() {
    isOpen = false;
    return true;
}

bool StopGateComm::Write(const void*, uint32_t) { return false; }

bool StopGateComm::ReadExact(void* buffer, uint32_t length) {
    std::unique_lock<std::mutex> guard(lock);
    if (length == 0 || !isOpen || bytes.size() - position < length) return false;
    if (!passed && position <= holdAt && holdAt < position + length) {
        held = true;
        heldSignal.notify_all();
        guard.unlock();
        while (!release()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        guard.lock();
        passed = true;
    }
    std::memcpy(buffer, bytes.data() + position, length);
    position += length;
    return true;
}

int32_t StopGateComm::ReadAvailable(void*, uint32_t) { return 0; }

void StopGateComm::GetPortName(char* text, uint32_t size) {
    if (size >= 5) std::memcpy(text, "GATE", 5);
}

bool StopGateComm::WaitUntilHeld(int32_t limitMs) {
    std::unique_lock<std::mutex> guard(lock);
    return heldSignal.wait_for(guard, std::chrono::milliseconds(limitMs), [this] { return held; });
}

size_t StopGateComm::Served() const {
    std::lock_guard<std::mutex> guard(lock);
    return position;
}
