#pragma once
#include <cstdint>

#include "comm/KSerialComm.h"

class KSimWorld;

// A serial link whose far end is a simulated world instead of a port: code written against
// KSerialComm (set BaudRate, Open, Write, ReadExact, ReadAvailable, Close) runs over it
// unchanged. Open takes BaudRate and purges, like the real link; no port registry is involved.
// The world is not owned and must outlive the link; time moves only when someone advances the
// world (a virtual clock's tick hook, or KRealTimeDriver).
class KSimComm : public KSerialComm {
public:
    explicit KSimComm(KSimWorld& world);
    ~KSimComm() override;

    bool Open(int32_t mode) override;
    bool Close() override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;

    KSimWorld& World() { return world; }

private:
    KSimWorld& world;
};
