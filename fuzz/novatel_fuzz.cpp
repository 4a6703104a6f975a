// Novatel framer under arbitrary bytes in arbitrary chunks. Every delivered log must carry the
// sync, the 28-byte binary header, a total length of M + 32 and an intact CRC, and must be a run
// of the input taken in order without overlap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzHarness.h"
#include "monitors/KNovatelStreamMonitor.h"

namespace {

[[noreturn]] void Fail(const char* what, const uint8_t* m, size_t n) { FailMessage("novatel", what, m, n); }

// Bit by bit, independent of the framer's tables.
uint32_t Crc(const uint8_t* bytes, size_t n) {
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

void Check(const uint8_t* m, size_t n) {
    if (n < 32) Fail("shorter than header and CRC", m, n);
    if (m[0] != 0xAA || m[1] != 0x44 || m[2] != 0x12) Fail("no sync", m, n);
    if (m[3] != 28) Fail("header length not 28", m, n);
    if (m[6] & 0x60) Fail("not a binary log", m, n);
    const size_t length = static_cast<size_t>(m[8] | m[9] << 8);
    if (n != length + 32) Fail("length does not match its length field", m, n);
    if (Crc(m, n) != 0) Fail("CRC does not hold", m, n);
    if (!FramerInput::Current().FollowsTheLastMessage(m, n)) Fail("not a run of the input after the previous message", m, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KNovatelStreamMonitor>(data, size, KNovatelStreamMonitor::kBufferSize, Check);
}
