// The simulated Ashtech receiver's request reader (and what it does with the requests) on
// arbitrary bytes: nothing crashes, every request it cuts out is the run of input bytes that
// ends at the byte just fed, from "$" to CR LF and no longer than its limit, and every answer
// it then sends goes out.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "FuzzHarness.h"
#include "sim/KAshtechDevice.h"

namespace {

void Fail(const char* what, size_t at) {
    std::fprintf(stderr, "%s (input byte %zu)\n", what, at);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the set-up: port, faults and whether it streams.
    KSimDeviceOptions options;
    options.receiverPort = std::string(1, static_cast<char>('A' + data[0] % 5));
    options.missesFirstTry = (data[0] & 0x08) != 0;
    options.refusesRateChange = (data[0] & 0x10) != 0;
    options.streaming = (data[0] & 0x20) != 0;
    options.silent = (data[0] & 0x40) != 0;
    auto device = KAshtechDevice::Create(1 + data[0] % 3, 9600, options);
    if (!device) Fail("no device for a valid set-up", 0);
    auto& ashtech = static_cast<KAshtechDevice&>(*device);
    FuzzSinkLink link;
    int64_t now = 0;
    device->Attach(&link, now);
    for (size_t i = 1; i < size; ++i) {
        const size_t before = ashtech.Requests().size();
        now += 1'000'000; // a millisecond a byte
        device->OnByte(now, data[i]);
        const auto& requests = ashtech.Requests();
        if (requests.size() > before + 1) Fail("one byte ended more than one request", i);
        if (requests.size() == before + 1) {
            const std::vector<uint8_t>& r = requests.back();
            if (r.size() < 3 || r.size() > KAshtechDevice::kMaxRequest || r.front() != '$' ||
                r[r.size() - 2] != '\r' || r.back() != '\n')
                Fail("a request that is not a line from $ to CR LF", i);
            if (r.size() > i || !std::equal(r.begin(), r.end(), data + i + 1 - r.size()))
                Fail("a request that is not the input run ending here", i);
        }
        while (device->NextWakeNs() <= now)
            device->Wake(now);
    }
    // Whatever is still due (answers, rate switches) runs out.
    for (int rounds = 0; rounds < 64 && device->NextWakeNs() != KSimDevice::kNever; ++rounds) {
        now = std::max(now, device->NextWakeNs());
        device->Wake(now);
    }
    return 0;
}
