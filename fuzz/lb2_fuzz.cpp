// Arbitrary bytes in arbitrary chunks through the LB2 framer: every message it delivers must be
// a whole LB2 frame with a length field matching its size and a checksum that holds.
#include "fuzz/FuzzHarness.h"
#include "monitors/KLeicaStreamMonitor.h"

namespace {

void CheckLB2(const uint8_t* message, size_t length) {
    if (length < 7 || message[0] != 0x9C || message[1] != 0xAE) {
        std::fprintf(stderr, "LB2 message without sync or too short (%zu bytes)\n", length);
        std::abort();
    }
    const size_t field = static_cast<size_t>(message[2]) | static_cast<size_t>(message[3]) << 8;
    if (field + 2 != length) {
        std::fprintf(stderr, "LB2 length field %zu in a message of %zu bytes\n", field, length);
        std::abort();
    }
    uint32_t sum = 0;
    for (size_t i = 2; i < field; ++i) sum += message[i];
    sum += static_cast<uint32_t>(message[field]) | static_cast<uint32_t>(message[field + 1]) << 8;
    if ((sum & 0xFFFF) != 0) {
        std::fprintf(stderr, "LB2 message with a failing checksum\n");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KLeicaStreamMonitor>(data, size, KLeicaStreamMonitor::kBufferSize, CheckLB2);
}
