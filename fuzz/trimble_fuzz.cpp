// Trimble framer under arbitrary bytes in arbitrary chunks. Every delivered packet must start
// with STX, hold its whole L + 6 bytes with the checksum and ETX where L puts them, and be a run of
// the input taken in order without overlap. A packet completed from bytes kept after a bad one
// may carry those kept bytes past its ETX; they came from inside the 261-byte bad packet, so such
// a message is still at most 260 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzHarness.h"
#include "monitors/KTrimbleStreamMonitor.h"

namespace {

const uint8_t* input = nullptr;
size_t inputSize = 0;
size_t cursor = 0;

[[noreturn]] void Fail(const char* what, size_t n) {
    std::fprintf(stderr, "trimble message of %zu bytes: %s\n", n, what);
    std::abort();
}

void Check(const uint8_t* m, size_t n) {
    if (n < 6) Fail("shorter than an empty packet", n);
    if (m[0] != 0x02) Fail("no STX", n);
    const size_t l = m[3];
    if (n < l + 6) Fail("shorter than its length byte says", n);
    if (n > l + 6 && n > 260) Fail("trailing bytes beyond what a bad packet can leave", n);
    if (m[l + 5] != 0x03) Fail("no ETX after the data", n);
    unsigned sum = 0;
    for (size_t i = 1; i <= l + 3; ++i) sum += m[i];
    if (static_cast<uint8_t>(sum) != m[l + 4]) Fail("checksum does not hold", n);
    const uint8_t* end = input + inputSize;
    const uint8_t* at = std::search(input + cursor, end, m, m + n);
    if (at == end) Fail("not a run of the input after the previous message", n);
    cursor = static_cast<size_t>(at - input) + n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    input = data + 2;
    inputSize = size - 2;
    cursor = 0;
    return FuzzFramer<KTrimbleStreamMonitor>(data, size, 261, Check);
}
