#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "sim/KSimDevice.h"
#include "sim/KSimDeviceLink.h"
#include "sim/KUartLine.h"

struct KSimWorldOptions {
    // What the host's UART delivers for a framing error (the device's drops such bytes).
    KUartLine::FramingErrorPolicy hostFramingErrors = KUartLine::FramingErrorPolicy::DeliverSampled;
    // A noisy cable: each bit in either direction is inverted with this probability.
    double bitFlipProbability = 0.0;
    uint64_t seed = 1;
    // What the host's driver holds before it drops arriving bytes.
    size_t hostQueueCapacity = 65536;
};

// One host serial port, a cable (a KUartLine each way) and one simulated device, on a time line
// in nanoseconds that starts at 0 and only moves when AdvanceTo is called. AdvanceTo runs
// everything up to the given time in time order: host bytes reach the device when their stop
// bit is sampled, the device's replies and periodic output go out when due, and the host's UART
// decodes what reaches it. The host port: a closed port loses what arrives; opening purges;
// writes go out back to back at the host's rate from the current time; reads take what the
// host's UART decoded up to the current time. Every call is thread-safe (one lock).
class KSimWorld : private KSimDeviceLink {
public:
    explicit KSimWorld(std::unique_ptr<KSimDevice> device, const KSimWorldOptions& options = {});
    ~KSimWorld() override;
    KSimWorld(const KSimWorld&) = delete;
    KSimWorld& operator=(const KSimWorld&) = delete;

    // Runs the world up to `timeNs` (a time before the current one changes nothing).
    void AdvanceTo(int64_t timeNs);
    void AdvanceBy(int64_t ns) { AdvanceTo(NowNs() + ns); }
    int64_t NowNs() const;
    // When something next happens without the host doing anything: now while bytes are on
    // either line, else the device's next wake (KSimDevice::kNever when it has none).
    int64_t NextEventNs() const;

    // Opens (or reopens) the host's port at `baud`: drops what it held and decodes at that rate
    // from now on. False (and closed) for a rate of 0.
    bool HostOpen(uint32_t baud);
    void HostClose();
    bool HostIsOpen() const;
    uint32_t HostBaud() const;
    // Queues bytes for the device at the host's rate; false when closed or empty.
    bool HostWrite(const void* data, size_t length);
    // Holds the host's transmit line low for `durationNs` (after what is already queued).
    bool HostSendBreak(int64_t durationNs);
    // When what the host has written has all left its port.
    int64_t HostWriteDoneNs() const;
    size_t HostReadable() const;
    // Up to `length` of the bytes decoded so far.
    size_t HostRead(void* buffer, size_t length);
    // Exactly `length` bytes when that many are waiting, else nothing (and false).
    bool HostReadExact(void* buffer, size_t length);

    uint64_t HostFramingErrors() const;
    // Bytes the host has written since the world began (what a listener must leave at 0).
    uint64_t HostBytesWritten() const;
    // Bytes that reached the host while its port was closed or its queue full.
    uint64_t HostBytesLost() const;

    // Calls `f(KSimDevice&)` under the world's lock (inspection from tests and front ends).
    template <typename F>
    decltype(auto) WithDevice(F&& f) {
        std::lock_guard<std::mutex> guard(lock);
        return f(*device);
    }

private:
    // KSimDeviceLink, called by the device under the lock.
    int64_t Transmit(int64_t atNs, uint32_t baud, const std::vector<uint8_t>& bytes) override;
    int64_t TransmitFreeNs() const override;
    void SetReceiveBaud(uint32_t baud) override;

    void AdvanceLocked(int64_t timeNs);

    mutable std::mutex lock;
    KSimWorldOptions options;
    std::unique_ptr<KSimDevice> device;
    KUartLine toDevice;
    KUartLine toHost;
    int64_t now = 0;
    bool hostOpen = false;
    uint32_t hostBaud = 9600;
    std::deque<uint8_t> hostQueue;
    uint64_t hostBytesLost = 0;
    uint64_t hostBytesWritten = 0;
};
