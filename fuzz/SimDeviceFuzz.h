#pragma once
// Shared driver of the fuzz targets for simulated receivers' request readers: the device takes
// the input a byte a millisecond over a line that takes whatever it sends; nothing may crash,
// one byte ends at most one request, every request is the run of input bytes that ends at the
// byte just fed (sharing none with the request before) and passes the target's `check`, and
// every answer then goes out.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/KSimDeviceLink.h"
#include "sim/KSimReceiverDevice.h"

[[noreturn]] inline void FuzzFail(const char* what, size_t at) {
    std::fprintf(stderr, "%s (input byte %zu)\n", what, at);
    std::abort();
}

// A line that takes whatever is sent, 10 bits a byte.
class SimSinkLink : public KSimDeviceLink {
public:
    int64_t Transmit(int64_t atNs, uint32_t baud, const std::vector<uint8_t>& bytes) override {
        freeNs =
            std::max(freeNs, atNs) + static_cast<int64_t>(bytes.size()) * 10'000'000'000 / baud;
        return freeNs;
    }
    int64_t TransmitFreeNs() const override { return freeNs; }
    void SetReceiveBaud(uint32_t) override {}

private:
    int64_t freeNs = 0;
};

// `check(request)` answers whether a request has the shape of the family's requests.
template <typename Check>
void FuzzSimDevice(KSimReceiverDevice& device, const uint8_t* data, size_t size, Check check) {
    SimSinkLink link;
    int64_t now = 0;
    size_t lastEnd = 0;
    device.Attach(&link, now);
    for (size_t i = 0; i < size; ++i) {
        const size_t before = device.Requests().size();
        now += 1'000'000; // a millisecond a byte
        device.OnByte(now, data[i]);
        const auto& requests = device.Requests();
        if (requests.size() > before + 1) FuzzFail("one byte ended more than one request", i);
        if (requests.size() == before + 1) {
            const std::vector<uint8_t>& r = requests.back();
            if (!check(r)) FuzzFail("a request of the wrong shape", i);
            if (r.size() > i + 1 - lastEnd || !std::equal(r.begin(), r.end(), data + i + 1 - r.size()))
                FuzzFail("a request that is not the input run ending here, apart from the one before", i);
            lastEnd = i + 1;
        }
        while (device.NextWakeNs() <= now)
            device.Wake(now);
    }
    // Whatever is still due (answers, rate switches) runs out.
    for (int rounds = 0; rounds < 64 && device.NextWakeNs() != KSimDevice::kNever; ++rounds) {
        now = std::max(now, device.NextWakeNs());
        device.Wake(now);
    }
}
