// The families' message readers under arbitrary messages: the input's first byte picks the
// family, then each message is a length byte and that many bytes. A reader must never read past
// a message (the sanitizers tell), and every time it gives must be one a time can hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "families/KReceiverFamily.h"
#include "receivers/KMessageReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& families = ReceiverFamilies();
    const KReceiverFamily& family = families[data[0] % families.size()];
    const std::unique_ptr<KMessageReader> reader = family.protocol.createReader();
    for (size_t at = 1; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        // An owned copy of exactly the message, so that a read past it is caught.
        const StreamMessage message(data + at + 1, static_cast<int32_t>(length));
        at += 1 + length;
        const KMessageFacts facts = reader->Read(message);
        if (facts.time == KMessageFacts::Time::None) continue;
        if (facts.gps.utc < KGPSTime::kGpsEpoch || facts.gps.nanoseconds < 0 || facts.gps.nanoseconds > 1000000000 ||
            (facts.time == KMessageFacts::Time::OfWeek && facts.gps.GetGPSWeek() != 0)) {
            std::fprintf(stderr, "%s reader: impossible time %d.%09d from a %zu-byte %s\n", family.name, facts.gps.utc,
                         facts.gps.nanoseconds, length, facts.name.c_str());
            std::abort();
        }
    }
    return 0;
}
