#include "sim/KSimReplayDevice.h"

#include <algorithm>

KSimReplayDevice::KSimReplayDevice(std::vector<uint8_t> bytes, uint32_t rate, std::string deviceName)
    : recording(std::move(bytes)), baud(rate) {
    SetName(std::move(deviceName));
}

void KSimReplayDevice::Attach(KSimDeviceLink* deviceLink, int64_t nowNs) {
    link = deviceLink;
    link->SetReceiveBaud(baud);
    nextNs = recording.empty() || baud == 0 ? kNever : nowNs;
}

void KSimReplayDevice::OnByte(int64_t, uint8_t) {}

void KSimReplayDevice::Wake(int64_t timeNs) {
    if (!link || recording.empty()) return;
    const size_t n = std::min(kSliceBytes, recording.size() - next);
    const std::vector<uint8_t> slice(recording.begin() + static_cast<std::ptrdiff_t>(next),
                                     recording.begin() + static_cast<std::ptrdiff_t>(next + n));
    next = (next + n) % recording.size();
    // The next slice follows as the line frees up: the stream is back to back, as a busy
    // receiver's output is.
    nextNs = link->Transmit(timeNs, baud, slice);
}
