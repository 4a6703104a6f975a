#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>

#include "comm/KComm.h"

// A link with no end of bytes (all `fill`), none of which starts a message of any protocol.
class EndlessComm : public KComm {
public:
    explicit EndlessComm(uint8_t fillByte = 0x55) : fill(fillByte) { isOpen = true; }
    bool Open(int32_t) override { return isOpen = true; }
    bool Close() override {
        isOpen = false;
        return true;
    }
    bool Write(const void*, uint32_t) override { return false; }
    bool ReadExact(void* buffer, uint32_t length) override {
        if (length == 0) return false;
        std::memset(buffer, fill, length);
        bytes += length;
        return true;
    }
    int32_t ReadAvailable(void*, uint32_t) override { return 0; }
    void GetPortName(char* text, uint32_t size) override {
        if (size > 0) text[0] = '\0';
    }

    std::atomic<uint64_t> bytes{0};

private:
    uint8_t fill;
};
