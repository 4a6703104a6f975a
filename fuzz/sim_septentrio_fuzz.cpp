// The simulated Septentrio receiver's command line (and what it does with the commands) on
// arbitrary bytes: nothing crashes, every command line it cuts out is the run of input bytes that
// ends at the byte just fed, ended by its one CR or LF, and every answer it then sends goes out.
#include <algorithm>
#include <string>

#include "SimDeviceFuzz.h"
#include "sim/KSeptentrioDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the set-up: port, faults and whether it streams.
    KSimDeviceOptions options;
    options.receiverPort = "COM" + std::to_string(1 + data[0] % 4);
    options.refusesRateChange = (data[0] & 0x04) != 0;
    options.wrongAcknowledgements = (data[0] & 0x08) != 0;
    options.streaming = (data[0] & 0x10) != 0;
    options.silent = (data[0] & 0x20) != 0;
    options.refusesSave = (data[0] & 0x40) != 0;
    auto device = KSeptentrioDevice::Create(17, 9600, options);
    if (!device) FuzzFail("no device for a valid set-up", 0);
    const auto isCommandLine = [](const std::vector<uint8_t>& r) {
        const auto isLineEnd = [](uint8_t b) { return b == '\r' || b == '\n'; };
        return !r.empty() && r.size() <= KSeptentrioDevice::kMaxCommand + 1 && isLineEnd(r.back()) &&
               std::none_of(r.begin(), r.end() - 1, isLineEnd);
    };
    FuzzSimDevice(static_cast<KSeptentrioDevice&>(*device), data + 1, size - 1, isCommandLine);
    return 0;
}
