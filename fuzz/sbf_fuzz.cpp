// Septentrio framer under arbitrary bytes in arbitrary chunks. Every delivered message must be an
// SBF block whose length field is its size (a multiple of 4, at most the limit) and whose CRC
// holds, a command reply ("$R:", "$R;" or "$R?", text only, ended by CR LF and a prompt), or a
// prompt on its own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FuzzHarness.h"
#include "monitors/KSeptentrioStreamMonitor.h"

namespace {

[[noreturn]] void Fail(const char* what, const uint8_t* m, size_t n) { FailMessage("septentrio", what, m, n); }

uint16_t Crc(const uint8_t* d, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (d[i] << 8));
        for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

bool Prompt(const uint8_t* p) {
    return (std::memcmp(p, "COM", 3) == 0 && p[3] >= '1' && p[3] <= '4' && p[4] == '>') || std::memcmp(p, "---->", 5) == 0;
}

void Check(const uint8_t* m, size_t n) {
    if (n >= 2 && m[0] == '$' && m[1] == '@') {
        if (n < 8) Fail("block shorter than its header", m, n);
        const size_t length = m[6] | m[7] << 8;
        if (length != n || n % 4 != 0 || n > KSeptentrioStreamMonitor::kMaxBlock) Fail("block length", m, n);
        if (Crc(m + 4, n - 4) != (m[2] | m[3] << 8)) Fail("block CRC", m, n);
        return;
    }
    if (n == 5) {
        if (m[0] != 'C' || !Prompt(m)) Fail("bare prompt", m, n);
        return;
    }
    if (n < 10 || m[0] != '$' || m[1] != 'R' || (m[2] != ':' && m[2] != ';' && m[2] != '?')) Fail("reply start", m, n);
    if (n > KSeptentrioStreamMonitor::kMaxReply) Fail("reply length", m, n);
    for (size_t i = 0; i < n; ++i)
        if (!((m[i] >= 0x20 && m[i] <= 0x7E) || m[i] == '\r' || m[i] == '\n' || m[i] == '\t')) Fail("reply byte", m, n);
    if (m[n - 7] != '\r' || m[n - 6] != '\n' || !Prompt(m + n - 5)) Fail("reply end", m, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzFramer<KSeptentrioStreamMonitor>(data, size, KSeptentrioStreamMonitor::kMaxBlock, Check);
}
