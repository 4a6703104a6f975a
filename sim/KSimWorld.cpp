#include "sim/KSimWorld.h"

#include <algorithm>

namespace {
KUartLine::Options LineOptions(KUartLine::FramingErrorPolicy policy, const KSimWorldOptions& world,
                               uint64_t stream) {
    KUartLine::Options line;
    line.framingErrors = policy;
    line.bitFlipProbability = world.bitFlipProbability;
    line.seed = world.seed * 2 + stream;  // the two directions flip independently
    return line;
}
} // namespace

KSimWorld::KSimWorld(std::unique_ptr<KSimDevice> simDevice, const KSimWorldOptions& worldOptions)
    : options(worldOptions), device(std::move(simDevice)),
      toDevice(device ? device->Baud() : 9600,
               LineOptions(KUartLine::FramingErrorPolicy::Drop, worldOptions, 0)),
      toHost(9600, LineOptions(worldOptions.hostFramingErrors, worldOptions, 1)) {
    std::lock_guard<std::mutex> guard(lock);
    if (device) device->Attach(this, now);
}

KSimWorld::~KSimWorld() = default;

int64_t KSimWorld::Transmit(int64_t atNs, uint32_t baud, const std::vector<uint8_t>& bytes) {
    return toHost.Transmit(atNs, baud, bytes);
}

int64_t KSimWorld::TransmitFreeNs() const { return toHost.FreeAtNs(); }

void KSimWorld::SetReceiveBaud(uint32_t baud) { toDevice.SetReceiverBaud(baud); }

void KSimWorld::AdvanceTo(int64_t timeNs) {
    std::lock_guard<std::mutex> guard(lock);
    AdvanceLocked(timeNs);
}

void KSimWorld::AdvanceLocked(int64_t timeNs) {
    if (timeNs <= now) return;
    if (device) {
        for (;;) {
            const int64_t wake = device->NextWakeNs();
            KUartLine::Received r;
            // A byte completing at the same instant as a wake is handed over first.
            if (toDevice.ReceiveNext(std::min(timeNs, wake), r)) {
                device->OnByte(r.timeNs, r.byte);
                continue;
            }
            if (wake > timeNs) break;
            device->Wake(wake);
            if (device->NextWakeNs() <= wake) break;  // a model that makes no progress
        }
    }
    now = timeNs;
    KUartLine::Received r;
    while (toHost.ReceiveNext(now, r)) {
        if (hostOpen && hostQueue.size() < options.hostQueueCapacity)
            hostQueue.push_back(r.byte);
        else
            ++hostBytesLost;
    }
}

int64_t KSimWorld::NowNs() const {
    std::lock_guard<std::mutex> guard(lock);
    return now;
}

int64_t KSimWorld::NextEventNs() const {
    std::lock_guard<std::mutex> guard(lock);
    if (toDevice.FreeAtNs() > now || toHost.FreeAtNs() > now) return now;
    return device ? device->NextWakeNs() : KSimDevice::kNever;
}

bool KSimWorld::HostOpen(uint32_t baud) {
    std::lock_guard<std::mutex> guard(lock);
    hostQueue.clear();
    if (baud == 0) {
        hostOpen = false;
        return false;
    }
    hostBaud = baud;
    hostOpen = true;
    toHost.ResetReceiver(now, baud);
    return true;
}

void KSimWorld::HostClose() {
    std::lock_guard<std::mutex> guard(lock);
    hostOpen = false;
    hostQueue.clear();
}

bool KSimWorld::HostIsOpen() const {
    std::lock_guard<std::mutex> guard(lock);
    return hostOpen;
}

uint32_t KSimWorld::HostBaud() const {
    std::lock_guard<std::mutex> guard(lock);
    return hostBaud;
}

bool KSimWorld::HostWrite(const void* data, size_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (!hostOpen || length == 0 || data == nullptr) return false;
    toDevice.Transmit(now, hostBaud, static_cast<const uint8_t*>(data), length);
    hostBytesWritten += length;
    return true;
}

bool KSimWorld::HostSendBreak(int64_t durationNs) {
    std::lock_guard<std::mutex> guard(lock);
    if (!hostOpen || durationNs <= 0) return false;
    toDevice.SendBreak(now, durationNs);
    return true;
}

int64_t KSimWorld::HostWriteDoneNs() const {
    std::lock_guard<std::mutex> guard(lock);
    return std::max(now, toDevice.FreeAtNs());
}

size_t KSimWorld::HostReadable() const {
    std::lock_guard<std::mutex> guard(lock);
    return hostOpen ? hostQueue.size() : 0;
}

size_t KSimWorld::HostRead(void* buffer, size_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (!hostOpen || buffer == nullptr) return 0;
    const size_t n = std::min(length, hostQueue.size());
    std::copy_n(hostQueue.begin(), n, static_cast<uint8_t*>(buffer));
    hostQueue.erase(hostQueue.begin(), hostQueue.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

bool KSimWorld::HostReadExact(void* buffer, size_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (!hostOpen || buffer == nullptr || length == 0 || hostQueue.size() < length) return false;
    std::copy_n(hostQueue.begin(), length, static_cast<uint8_t*>(buffer));
    hostQueue.erase(hostQueue.begin(), hostQueue.begin() + static_cast<std::ptrdiff_t>(length));
    return true;
}

uint64_t KSimWorld::HostFramingErrors() const {
    std::lock_guard<std::mutex> guard(lock);
    return toHost.FramingErrors();
}

uint64_t KSimWorld::HostBytesWritten() const {
    std::lock_guard<std::mutex> guard(lock);
    return hostBytesWritten;
}

uint64_t KSimWorld::HostBytesLost() const {
    std::lock_guard<std::mutex> guard(lock);
    return hostBytesLost;
}
