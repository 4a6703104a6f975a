#pragma once
#include <cstdint>
#include <limits>
#include <string>

#include "sim/KSimDeviceLink.h"

// Behaviour options of a simulated receiver, faults included.
struct KSimDeviceOptions {
    // Periodic output (position-like frames) from power-up until told to stop.
    bool streaming = true;
    int32_t outputPeriodMs = 1000;
    // Time between a request's last byte and the first byte of its reply (a slow receiver has
    // a long one).
    int32_t replyDelayMs = 5;
    // Never answers nor obeys anything (periodic output goes on).
    bool silent = false;
    // Accepts (and acknowledges) a rate change but keeps its rate.
    bool neverSwitches = false;
    // When above 0: goes back to its old rate this long after switching.
    int32_t revertAfterMs = 0;
    // Falls back only after its first switch (a setting lost once, as on a reset), so a host
    // that sets the rate again keeps it.
    bool revertsOnce = false;
    // Seconds that GPS time runs ahead of UTC, for answers given as GPS time.
    int32_t gpsLeapSeconds = 18;

    // Faults and set-ups that only some families have (the others ignore them):
    // Refuses rate changes it is asked for (a negative acknowledgement where the protocol has one).
    bool refusesRateChange = false;
    // Refuses to save its settings over a power cycle (where its protocol can save them).
    bool refusesSave = false;
    // Misses the first of every two requests that a receiver is asked again when it gives no
    // answer (a query its host repeats): the second try is answered.
    bool missesFirstTry = false;
    // Acknowledges requests wrongly where its protocol acknowledges them (a response that is not
    // "OK", an acknowledgement of another message): hosts must not take it for an answer.
    bool wrongAcknowledgements = false;
    // The receiver's own name of the port the cable is on (a letter or a number, as its family
    // names them); empty for the family's usual one. Odd values test the host's checks.
    std::string receiverPort;
};

// A receiver model at the far end of a simulated serial line. The world calls it in time
// order, all from one thread (under the world's lock): Attach once, then OnByte for every byte
// its UART framed correctly, and Wake whenever NextWakeNs comes due. Times are in nanoseconds
// of the world's time line.
class KSimDevice {
public:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    virtual ~KSimDevice() = default;

    // Connects the device to its end of the line at time `nowNs` (power-up).
    virtual void Attach(KSimDeviceLink* link, int64_t nowNs) = 0;
    // One byte received correctly at the device's rate, at the time its stop bit was sampled.
    virtual void OnByte(int64_t timeNs, uint8_t byte) = 0;
    // When the device next wants Wake to be called, or kNever.
    virtual int64_t NextWakeNs() const = 0;
    // Does what has come due at `timeNs` (replies, periodic output, rate switches).
    virtual void Wake(int64_t timeNs) = 0;

    // The rate at which the device's port runs now.
    virtual uint32_t Baud() const = 0;
    // The rate its port would start at after a power cycle, once a save has set one; 0 while
    // nothing was saved (and always for receivers that cannot save).
    virtual uint32_t SavedBaud() const { return 0; }

    // What the device is shown as: its type's catalogue name, given by whoever made it.
    const std::string& Name() const { return name; }
    void SetName(std::string deviceName) { name = std::move(deviceName); }

private:
    std::string name;
};
