#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// A device model's end of the cable, provided by the world that runs it.
class KSimDeviceLink {
public:
    virtual ~KSimDeviceLink() = default;

    // Queues bytes to go out back to back at `baud`, from `atNs` or once the line is free.
    // Returns the time at which the last stop bit has left the wire.
    virtual int64_t Transmit(int64_t atNs, uint32_t baud, const std::vector<uint8_t>& bytes) = 0;
    // When everything queued so far has left the wire.
    virtual int64_t TransmitFreeNs() const = 0;
    // The rate at which the device's UART samples what arrives, from now on.
    virtual void SetReceiveBaud(uint32_t baud) = 0;
};
