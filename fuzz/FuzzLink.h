#pragma once
// The link the framer fuzz targets read through: the input itself, released chunk by chunk.
// One thread, no copy, no lock, and kept out of the coverage tracing: its bookkeeping is not
// under test, and at a byte a call it cost more than the framing it feeds.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "comm/KComm.h"
#include "monitors/KStreamMonitor.h"

class FuzzLink final : public KComm {
public:
    FuzzLink(const uint8_t* data, size_t size) : data(data), size(size) {
        linkType = 1;
        linkName = "fuzz";
        isOpen = true;
    }

    // Makes `n` more of the input readable.
    VELINOR_UNTRACED void Release(size_t n) { released = n < size - released ? released + n : size; }

    VELINOR_UNTRACED bool ReadExact(void* buffer, uint32_t length) override {
        if (length == 0 || released - taken < length) return false;
        if (length == 1) *static_cast<uint8_t*>(buffer) = data[taken];
        else std::memcpy(buffer, data + taken, length);
        taken += length;
        return true;
    }
    VELINOR_UNTRACED int32_t ReadAvailable(void* buffer, uint32_t length) override {
        const size_t n = length < released - taken ? length : released - taken;
        if (n != 0) std::memcpy(buffer, data + taken, n);
        taken += n;
        return static_cast<int32_t>(n);
    }
    bool Open(int32_t) override { return isOpen = true; }
    bool Close() override { return !(isOpen = false); }
    bool Write(const void*, uint32_t) override { return false; }
    void GetPortName(char* text, uint32_t length) override {
        if (length >= 5) std::memcpy(text, "FUZZ", 5);
        else if (length > 0) text[0] = 0;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t released = 0;
    size_t taken = 0;
};
