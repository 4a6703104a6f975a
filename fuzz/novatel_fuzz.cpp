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

const uint8_t* input = nullptr;
size_t inputSize = 0;
size_t cursor = 0;

[[noreturn]] void Fail(const char* what, size_t n) {
    std::fprintf(stderr, "novatel message of %zu bytes: %s\n", n, what);
    std::abort();
}

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
    if (n < 32) Fail("shorter than header and CRC", n);
    if (m[0] != 0xAA || m[1] != 0x44 || m[2] != 0x12) Fail("no sync", n);
    if (m[3] != 28) Fail("header length not 28", n);
    if (m[6] & 0x60) Fail("not a binary log", n);
    const size_t length = static_cast<size_t>(m[8] | m[9] << 8);
    if (n != length + 32) Fail("length does not match its length field", n);
    if (Crc(m, n) != 0) Fail("CRC does not hold", n);
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
    return FuzzFramer<KNovatelStreamMonitor>(data, size, KNovatelStreamMonitor::kBufferSize, Check);
}
