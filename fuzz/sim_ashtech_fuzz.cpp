// The simulated Ashtech receiver's request reader (and what it does with the requests) on
// arbitrary bytes: nothing crashes, every request it cuts out is the run of input bytes that
// ends at the byte just fed, from "$" to CR LF and no longer than its limit, and every answer
// it then sends goes out.
#include <string>

#include "SimDeviceFuzz.h"
#include "sim/KAshtechDevice.h"

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
    if (!device) FuzzFail("no device for a valid set-up", 0);
    // A line from "$" to CR LF, no longer than the limit.
    const auto isCommandLine = [](const std::vector<uint8_t>& r) {
        return r.size() >= 3 && r.size() <= KAshtechDevice::kMaxRequest && r.front() == '$' &&
               r[r.size() - 2] == '\r' && r.back() == '\n';
    };
    FuzzSimDevice(static_cast<KAshtechDevice&>(*device), data + 1, size - 1, isCommandLine);
    return 0;
}
