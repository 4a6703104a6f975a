// The simulated SiRF receiver's packet reader (and what the receiver does with the packets) on
// arbitrary bytes: nothing crashes, every request it cuts out is an intact packet (start,
// length, a message ID, checksum, end) that is the run of input bytes ending at the byte just
// fed, requests never share bytes, and every answer and rate switch then runs its course.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "FuzzHarness.h"
#include "sim/KSiRFDevice.h"

namespace {

void Fail(const char* what, size_t at) {
    std::fprintf(stderr, "%s (input byte %zu)\n", what, at);
    std::abort();
}

// Whole, from start to end, with the length and checksum its payload calls for.
bool Intact(const std::vector<uint8_t>& r) {
    return r.size() > KSimSiRFParser::kOverhead && r.size() <= KSimSiRFParser::kMaxPacket &&
           KSimSiRFParser::Packet({r.begin() + 4, r.end() - 4}) == r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the set-up: its rate, faults and whether it streams.
    KSimDeviceOptions options;
    options.wrongAcknowledgements = (data[0] & 0x08) != 0;
    options.refusesRateChange = (data[0] & 0x10) != 0;
    options.streaming = (data[0] & 0x20) != 0;
    options.silent = (data[0] & 0x40) != 0;
    const auto rates = KSiRFDevice::Rates(10);
    auto device = KSiRFDevice::Create(10, rates[data[0] % rates.size()], options);
    if (!device) Fail("no device for a valid set-up", 0);
    const auto& requests = static_cast<KSiRFDevice&>(*device).Requests();
    FuzzSinkLink link;
    int64_t now = 0;
    size_t lastEnd = 1;
    device->Attach(&link, now);
    for (size_t i = 1; i < size; ++i) {
        const size_t before = requests.size();
        now += 1'000'000;  // a millisecond a byte
        device->OnByte(now, data[i]);
        if (requests.size() > before + 1) Fail("one byte ended more than one request", i);
        if (requests.size() == before + 1) {
            const std::vector<uint8_t>& r = requests.back();
            if (!Intact(r)) Fail("a request that is not an intact packet", i);
            if (r.size() > i + 1 - lastEnd || !std::equal(r.begin(), r.end(), data + i + 1 - r.size()))
                Fail("a request that is not the input run ending here, apart from the one before", i);
            lastEnd = i + 1;
        }
        while (device->NextWakeNs() <= now) device->Wake(now);
    }
    // Whatever is still due (answers, rate switches) runs out.
    for (int rounds = 0; rounds < 64 && device->NextWakeNs() != KSimDevice::kNever; ++rounds) {
        now = std::max(now, device->NextWakeNs());
        device->Wake(now);
    }
    return 0;
}
