// The simulated MediaTek receiver's request reader (and what it does with the requests) on
// arbitrary bytes: nothing crashes, every request it cuts out is the run of input bytes that
// ends at the byte just fed, from "$" to CR LF and no longer than its limit, and every answer
// it then sends goes out.
#include "SimDeviceFuzz.h"
#include "sim/KMediaTekDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the set-up: faults and whether it streams.
    KSimDeviceOptions options;
    options.refusesRateChange = (data[0] & 0x01) != 0;
    options.wrongAcknowledgements = (data[0] & 0x02) != 0;
    options.streaming = (data[0] & 0x04) != 0;
    options.silent = (data[0] & 0x08) != 0;
    auto device = KMediaTekDevice::Create(16, 9600, options);
    if (!device) FuzzFail("no device for a valid set-up", 0);
    const auto isCommandLine = [](const std::vector<uint8_t>& r) {
        return r.size() >= 3 && r.size() <= KMediaTekDevice::kMaxRequest && r.front() == '$' &&
               r[r.size() - 2] == '\r' && r.back() == '\n';
    };
    FuzzSimDevice(static_cast<KMediaTekDevice&>(*device), data + 1, size - 1, isCommandLine);
    return 0;
}
