// Arbitrary bytes in arbitrary chunks through the NavCom framer: every message it delivers must
// start with the sync, have a length field matching its size and an XOR checksum that holds.
// The ETX is not required: messages recovered from inside a bad one are not tested for it.
#include "fuzz/FuzzHarness.h"
#include "monitors/KNavComStreamMonitor.h"

namespace {

void CheckNavCom(const uint8_t* message, size_t length) {
    if (length < 7 || message[0] != 0x02 || message[1] != 0x99 || message[2] != 0x66) {
        std::fprintf(stderr, "NavCom message without sync or too short (%zu bytes)\n", length);
        std::abort();
    }
    const size_t field = static_cast<size_t>(message[4]) | static_cast<size_t>(message[5]) << 8;
    if (field < 3 || field + 4 != length) {
        std::fprintf(stderr, "NavCom length field %zu in a message of %zu bytes\n", field, length);
        std::abort();
    }
    uint8_t sum = 0;
    for (size_t i = 3; i < field + 2; ++i) sum ^= message[i];
    if (sum != message[field + 2]) {
        std::fprintf(stderr, "NavCom message with a failing checksum\n");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KNavComStreamMonitor>(data, size, KNavComStreamMonitor::kBufferSize, CheckNavCom);
}
