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

[[noreturn]] void Fail(const char* what, const uint8_t* m, size_t n) { FailMessage("ubx", what, m, n); }

void Check(const uint8_t* m, size_t n) {
    if (n < 8) Fail("shorter than header and checksum", m, n);
    if (m[0] != 0xB5 || m[1] != 0x62) Fail("no sync", m, n);
    if (n != size_t(m[4] | m[5] << 8) + 8) Fail("length does not match its length field", m, n);
    unsigned a = 0, b = 0;
    for (size_t i = 2; i < n - 2; ++i) {
        a = (a + m[i]) & 0xFFu;
        b = (b + a) & 0xFFu;
    }
    if (a != m[n - 2] || b != m[n - 1]) Fail("checksum does not hold", m, n);
    if (!FramerInput::Current().FollowsTheLastMessage(m, n)) Fail("not a run of the input after the previous message", m, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KUbloxStreamMonitor>(data, size, KUbloxStreamMonitor::kBufferSize, Check);
}
