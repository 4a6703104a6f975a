// Topcon GRIL framer under arbitrary bytes in arbitrary chunks. Every delivered message must
// start with a valid header, hold its whole body followed only by CR bytes and at most one
// final LF, and pass the check its identifier carries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzHarness.h"
#include "monitors/KTopconStreamMonitor.h"

namespace {

[[noreturn]] void Fail(const char* what, const uint8_t* m, size_t n) { FailMessage("topcon", what, m, n); }

int Hex(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

uint8_t Rotate(uint8_t v) { return static_cast<uint8_t>((v << 2) | (v >> 6)); }

uint8_t Checksum8(const uint8_t* d, size_t n) {
    uint8_t s = 0;
    for (size_t i = 0; i < n; ++i) s = static_cast<uint8_t>(Rotate(s) ^ d[i]);
    return Rotate(s);
}

uint16_t Crc16(const uint8_t* d, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (d[i] << 8));
        for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

void Check(const uint8_t* m, size_t n) {
    if (n < 6) Fail("shorter than a header and one body byte", m, n);
    const uint8_t a = m[0], b = m[1];
    if (a < 0x30 || a > 0x7E || b < 0x30 || b > 0x7E) Fail("identifier character", m, n);
    if (b == '=' && a != '=') Fail("identifier with =", m, n);
    if (a >= '0' && a <= '9' && b >= '0' && b <= '9') Fail("numeric identifier", m, n);
    const int h = Hex(m[2]), md = Hex(m[3]), l = Hex(m[4]);
    if (h < 0 || md < 0 || l < 0) Fail("length digits", m, n);
    const size_t size = static_cast<size_t>(h * 256 + md * 16 + l) + 5;
    if (size == 5) Fail("zero length", m, n);
    if (n < size) Fail("body cut short", m, n);
    for (size_t i = size; i < n; ++i) {
        const bool last = i + 1 == n;
        if (m[i] != 0x0D && !(last && m[i] == 0x0A)) Fail("bytes after the body", m, n);
    }
    if ((a == 'r' && b == 'M')) {
        if (size < 7 || Crc16(m, size - 2) != (m[size - 2] | (m[size - 1] << 8))) Fail("rM CRC", m, n);
    } else if ((a == 'G' && b == 'E') || (a == 'N' && b == 'E') || (a == 'P' && b == 'O') || (a == '~' && b == '~')) {
        if (Checksum8(m, size - 1) != m[size - 1]) Fail("checksum", m, n);
    } else if (a == '>' && b == '>') {
        const int hi = Hex(m[size - 2]), lo = Hex(m[size - 1]);
        if (size < 7 || hi < 0 || lo < 0 || Checksum8(m, size - 2) != hi * 16 + lo) Fail(">> checksum", m, n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KTopconStreamMonitor>(data, size, KTopconStreamMonitor::kBufferSize, Check);
}
