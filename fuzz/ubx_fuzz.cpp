// UBX framer under arbitrary bytes in arbitrary chunks. Every delivered message must carry the
// sync, a total length of its length field + 8 and an intact checksum, and must be a run of the
// input after the previous message (a rewind never hands out bytes twice).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzHarness.h"
#include "monitors/KUbloxStreamMonitor.h"

namespace {

const uint8_t* input = nullptr;
size_t inputSize = 0;
size_t cursor = 0;

[[noreturn]] void Fail(const char* what, size_t n) {
    std::fprintf(stderr, "ubx message of %zu bytes: %s\n", n, what);
    std::abort();
}

void Check(const uint8_t* m, size_t n) {
    if (n < 8) Fail("shorter than header and checksum", n);
    if (m[0] != 0xB5 || m[1] != 0x62) Fail("no sync", n);
    if (n != size_t(m[4] | m[5] << 8) + 8) Fail("length does not match its length field", n);
    unsigned a = 0, b = 0;
    for (size_t i = 2; i < n - 2; ++i) {
        a = (a + m[i]) & 0xFFu;
        b = (b + a) & 0xFFu;
    }
    if (a != m[n - 2] || b != m[n - 1]) Fail("checksum does not hold", n);
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
    return FuzzFramer<KUbloxStreamMonitor>(data, size, KUbloxStreamMonitor::kBufferSize, Check);
}
