// Arbitrary bytes in arbitrary chunks through the SiRF binary framer: every message it delivers
// must start with A0 A2, have a length field matching its size and a 15-bit sum that holds. The
// end sequence is not required: messages recovered from inside a bad one are not tested for it.
#include "fuzz/FuzzHarness.h"
#include "monitors/KSiRFStreamMonitor.h"

namespace {

void CheckSirf(const uint8_t* message, size_t length) {
    if (length < 8 || message[0] != 0xA0 || message[1] != 0xA2) {
        std::fprintf(stderr, "SiRF message without start or too short (%zu bytes)\n", length);
        std::abort();
    }
    const size_t payload = static_cast<size_t>(message[2]) << 8 | static_cast<size_t>(message[3]);
    if (payload + 8 != length) {
        std::fprintf(stderr, "SiRF payload length %zu in a message of %zu bytes\n", payload, length);
        std::abort();
    }
    uint32_t sum = 0;
    for (size_t i = 0; i < payload; ++i) sum += message[4 + i];
    const uint32_t word = static_cast<uint32_t>(message[4 + payload]) << 8 | message[5 + payload];
    if ((sum & 0x7FFF) != word) {
        std::fprintf(stderr, "SiRF message with a failing checksum\n");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KSiRFStreamMonitor>(data, size, KSiRFStreamMonitor::kBufferSize, CheckSirf);
}
