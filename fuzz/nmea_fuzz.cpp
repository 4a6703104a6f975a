// NMEA framer under arbitrary bytes in arbitrary chunks. Every delivered sentence must start
// with "$", hold only printable text up to its "*hh" check, end in LF (CR LF or LF alone), fit
// the framer's limit, and pass the check.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzHarness.h"
#include "monitors/KMediaTekStreamMonitor.h"

namespace {

[[noreturn]] void Fail(const char* what, const uint8_t* m, size_t n) { FailMessage("nmea", what, m, n); }

int Hex(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void Check(const uint8_t* m, size_t n) {
    if (n < 6 || n > KMediaTekStreamMonitor::kMaxSentence) Fail("length", m, n);
    if (m[0] != '$') Fail("start", m, n);
    if (m[n - 1] != '\n') Fail("line end", m, n);
    const size_t end = m[n - 2] == '\r' ? n - 2 : n - 1;
    if (end < 5 || m[end - 3] != '*') Fail("no check", m, n);
    uint8_t sum = 0;
    for (size_t i = 1; i < end; ++i) {
        if (m[i] < 0x20 || m[i] > 0x7E || m[i] == '$') Fail("byte inside", m, n);
        if (i < end - 3) sum ^= m[i];
    }
    if (Hex(m[end - 2]) < 0 || Hex(m[end - 1]) < 0 || Hex(m[end - 2]) * 16 + Hex(m[end - 1]) != sum)
        Fail("check", m, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KMediaTekStreamMonitor>(data, size, KMediaTekStreamMonitor::kMaxSentence, Check);
}
