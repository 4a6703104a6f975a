#include "sim/KSimComm.h"

#include <cstring>
#include <string>

#include "sim/KSimWorld.h"

KSimComm::KSimComm(KSimWorld& simWorld) : world(simWorld) {}

KSimComm::~KSimComm() {
    if (isOpen) world.HostClose();
}

bool KSimComm::Open(int32_t) {
    if (isOpen) return true;
    lastOpenError = KOpenError{};
    if (BaudRate <= 0 || !world.HostOpen(static_cast<uint32_t>(BaudRate))) {
        // The same answer a driver gives for a rate it cannot set.
        lastOpenError.kind = KOpenError::Settings;
        lastOpenError.text = "Unable to initialize COM Port to requested settings";
        lastOpenError.device = "simulator";
        lastOpenError.reason = "unsupported baud rate";
        return false;
    }
    isOpen = true;
    return true;
}

bool KSimComm::Close() {
    if (!isOpen) return true;
    world.HostClose();
    isOpen = false;
    return true;
}

bool KSimComm::Write(const void* data, uint32_t length) {
    if (!isOpen || length == 0) return false;
    return world.HostWrite(data, length);
}

bool KSimComm::ReadExact(void* buffer, uint32_t length) {
    if (!isOpen || length == 0) return false;
    return world.HostReadExact(buffer, length);
}

int32_t KSimComm::ReadAvailable(void* buffer, uint32_t length) {
    if (!isOpen || length == 0) return 0;
    return static_cast<int32_t>(world.HostRead(buffer, length));
}

void KSimComm::GetPortName(char* text, uint32_t size) {
    if (size == 0 || size == 1) return;
    const std::string name = size >= 4 ? "SIM" : "?";
    std::memcpy(text, name.c_str(), name.size() + 1);
}
