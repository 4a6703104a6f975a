// Ashtech framer under arbitrary bytes in arbitrary chunks. Every delivered frame must start
// "$PASHR," or "$GPXDR,", end in CR LF, stay within the buffer, have its type's length and pass
// its type's check.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FuzzHarness.h"
#include "monitors/KAshtechStreamMonitor.h"

namespace {

[[noreturn]] void Fail(const char* what, const uint8_t* m, size_t n) { FailMessage("ashtech", what, m, n); }

bool Is(const uint8_t* m, const char* text) { return std::memcmp(m, text, std::strlen(text)) == 0; }

uint8_t Xor(const uint8_t* m, size_t from, size_t to) {
    uint8_t x = 0;
    for (size_t i = from; i < to; ++i) x ^= m[i];
    return x;
}

unsigned WordSum(const uint8_t* m, size_t from, size_t to) {
    unsigned s = 0;
    for (size_t i = from; i < to; i += 2) s += static_cast<unsigned>((m[i] << 8) | m[i + 1]);
    return s & 0xFFFF;
}

bool HexDigit(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

void Check(const uint8_t* m, size_t n) {
    if (n < 12) Fail("shorter than twelve bytes", m, n);
    if (n >= 4096) Fail("longer than the buffer allows", m, n);
    if (m[n - 2] != 0x0D || m[n - 1] != 0x0A) Fail("no CR LF at the end", m, n);
    if (Is(m, "$PASHR,")) {
        if (Is(m + 7, "MPC") && !(n == 108 && Xor(m, 11, 105) == m[105])) Fail("MPC", m, n);
        if (Is(m + 7, "PBN") && !(n == 69 && WordSum(m, 11, 65) == unsigned((m[65] << 8) | m[66]))) Fail("PBN", m, n);
        if (Is(m + 7, "GBN") && n != 49) Fail("GBN", m, n);
        if (Is(m + 7, "SNV") && !(n == 145 && WordSum(m, 11, 141) == unsigned((m[141] << 8) | m[142]))) Fail("SNV", m, n);
        if (Is(m + 7, "MCA") && !(n == 50 && Xor(m, 11, 47) == m[47])) Fail("MCA", m, n);
        return;
    }
    if (!Is(m, "$GPXDR,")) Fail("start", m, n);
    size_t star = 1;
    while (star < n && m[star] != '*') ++star;
    if (star + 2 >= n) Fail("no * with two bytes after it", m, n);
    unsigned received = 0;
    if (HexDigit(m[star + 1]) && HexDigit(m[star + 2])) {
        auto value = [](uint8_t c) { return c <= '9' ? c - 48u : c - 55u; };
        received = ((value(m[star + 1]) * 16) % 256) | value(m[star + 2]);
    }
    if (Xor(m, 1, star) != (received & 0xFF)) Fail("NMEA checksum", m, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KAshtechStreamMonitor>(data, size, KAshtechStreamMonitor::kBufferSize, Check);
}
