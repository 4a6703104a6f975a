#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/KSimDevice.h"

// A device that only plays a recording at its rate, over and over, as a receiver whose output
// was captured would; it answers nothing and ignores what it is sent. It shows how any
// recorded stream (a receiver's, plain NMEA, noise) looks to a host on the cable.
class KSimReplayDevice : public KSimDevice {
public:
    // `name` is what Name() says ("recording day.bin").
    KSimReplayDevice(std::vector<uint8_t> recording, uint32_t baud, std::string name);

    void Attach(KSimDeviceLink* link, int64_t nowNs) override;
    void OnByte(int64_t timeNs, uint8_t byte) override;
    int64_t NextWakeNs() const override { return nextNs; }
    void Wake(int64_t timeNs) override;
    uint32_t Baud() const override { return baud; }


private:
    // Handed to the line a slice at a time, so the queue on the wire stays short.
    static constexpr size_t kSliceBytes = 64;

    std::vector<uint8_t> recording;
    uint32_t baud;
    KSimDeviceLink* link = nullptr;
    size_t next = 0;
    int64_t nextNs = kNever;
};
