// The serial-line model on arbitrary traffic: decoding in pieces (as a world advancing in
// slices does) must give exactly what decoding at once gives, in time order, and an exact
// line at one rate must give every byte back.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/KUartLine.h"

namespace {
constexpr std::array<uint32_t, 12> kRates = {150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 7777};

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint32_t tx = kRates[data[0] % kRates.size()];
    const uint32_t rx = kRates[data[1] % kRates.size()];
    KUartLine::Options options;
    options.framingErrors = static_cast<KUartLine::FramingErrorPolicy>(data[2] % 3);
    options.bitFlipProbability = (data[3] & 0x80) ? static_cast<double>(data[3] & 0x7F) / 512.0 : 0.0;
    options.seed = data[3];
    const std::vector<uint8_t> bytes(data + 4, data + size);

    // All at once.
    KUartLine whole(rx, options);
    whole.Transmit(0, tx, bytes);
    const auto all = whole.Receive(INT64_C(1) << 62);

    // In pieces: each byte written at its own time, decoding up to a moving horizon that stays
    // before the next byte's start (the past may not change).
    KUartLine pieces(rx, options);
    std::vector<KUartLine::Received> got;
    const int64_t frameNs = KUartLine::BitOffsetNs(tx, 10);
    for (size_t i = 0; i < bytes.size(); ++i) {
        pieces.Transmit(static_cast<int64_t>(i) * frameNs, tx, &bytes[i], 1);
        for (const auto& r : pieces.Receive(static_cast<int64_t>(i) * frameNs + (bytes[i] % 8) * (frameNs - 1) / 7))
            got.push_back(r);
    }
    for (const auto& r : pieces.Receive(INT64_C(1) << 62)) got.push_back(r);

    if (got.size() != all.size()) Fail("piecewise decoding differs in count");
    for (size_t i = 0; i < all.size(); ++i) {
        if (got[i].byte != all[i].byte || got[i].timeNs != all[i].timeNs || got[i].framingError != all[i].framingError)
            Fail("piecewise decoding differs");
        if (i > 0 && all[i].timeNs <= all[i - 1].timeNs) Fail("bytes out of time order");
    }
    if (tx == rx && options.bitFlipProbability == 0.0) {
        if (all.size() != bytes.size()) Fail("exact line lost bytes");
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].byte != bytes[i] || all[i].framingError) Fail("exact line changed a byte");
    }
    return 0;
}
