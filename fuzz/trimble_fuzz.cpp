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

[[noreturn]] void Fail(const char* what, const uint8_t* m, size_t n) { FailMessage("trimble", what, m, n); }

void Check(const uint8_t* m, size_t n) {
    if (n < 6) Fail("shorter than an empty packet", m, n);
    if (m[0] != 0x02) Fail("no STX", m, n);
    const size_t l = m[3];
    if (n < l + 6) Fail("shorter than its length byte says", m, n);
    if (n > l + 6 && n > 260) Fail("trailing bytes beyond what a bad packet can leave", m, n);
    if (m[l + 5] != 0x03) Fail("no ETX after the data", m, n);
    unsigned sum = 0;
    for (size_t i = 1; i <= l + 3; ++i) sum += m[i];
    if (static_cast<uint8_t>(sum) != m[l + 4]) Fail("checksum does not hold", m, n);
    if (!FramerInput::Current().FollowsTheLastMessage(m, n)) Fail("not a run of the input after the previous message", m, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KTrimbleStreamMonitor>(data, size, 261, Check);
}
