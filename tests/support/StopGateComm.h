#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "comm/KComm.h"
#include "support/FramerHarness.h"

// A link that serves a fixed stream to a reader thread and holds the read that would hand out
// byte `holdAt` until `release` answers true. A test can thus act (for instance stop the
// monitor) while the reader is at an exact byte, and see how far it read afterwards.
class StopGateComm : public KComm {
public:
    StopGateComm(Bytes stream, size_t holdAt, std::function<bool()> release);

    bool Open(int32_t mode) override;
    bool Close() override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;

    // Waits (at most `limitMs` of real time) until a read is held at the gate.
    bool WaitUntilHeld(int32_t limitMs = 30000);
    // Bytes handed out so far.
    size_t Served() const;

private:
    mutable std::mutex lock;
    std::condition_variable heldSignal;
    Bytes bytes;
    size_t position = 0;
    size_t holdAt;
    bool held = false;
    bool passed = false;
    std::function<bool()> release;
};
