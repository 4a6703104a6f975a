// The simulated u-blox on arbitrary host bytes: every request it takes must be an intact UBX
// frame (sync, its stated length, the Fletcher sums checked here) that really ends at the byte
// just fed, and whatever it answers goes out. The generation and UART come from the first byte.
#include <cstdint>
#include <vector>

#include "SimDeviceFuzz.h"
#include "sim/KUbloxDevice.h"

namespace {
bool Intact(const std::vector<uint8_t>& frame) {
    if (frame.size() < 8 || frame[0] != 0xB5 || frame[1] != 0x62) return false;
    if (static_cast<size_t>(frame[4] | frame[5] << 8) + 8 != frame.size()) return false;
    unsigned a = 0, b = 0;
    for (size_t i = 2; i + 2 < frame.size(); ++i) {
        a = (a + frame[i]) & 0xFFu;
        b = (b + a) & 0xFFu;
    }
    return a == frame[frame.size() - 2] && b == frame[frame.size() - 1];
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static constexpr int32_t kGenerations[] = {8, 9, 10, 20};
    const int32_t generation = kGenerations[data[0] & 3];
    const int32_t uart = generation <= 9 && (data[0] & 4) ? 2 : 1;
    KSimDeviceOptions options;
    options.streaming = (data[0] & 8) != 0;
    options.wrongAcknowledgements = (data[0] & 16) != 0;
    options.refusesSave = (data[0] & 32) != 0;
    KUbloxDevice device(9600, generation, uart, options);
    FuzzSimDevice(device, data + 1, size - 1, Intact);
    return 0;
}
