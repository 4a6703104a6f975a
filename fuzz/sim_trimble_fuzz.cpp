// The simulated Trimble receiver's packet reader on arbitrary bytes: everything it finds must be
// an intact packet, or a lone ENQ, that really ends at the byte just fed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/KSimTrimbleParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KSimTrimbleParser parser;
    size_t bytesFound = 0;
    for (size_t i = 0; i < size; ++i) {
        parser.Feed(data[i]);
        for (std::vector<uint8_t> found; parser.Next(found);) {
            const bool enq = found.size() == 1 && found[0] == KSimTrimbleParser::kEnq;
            const bool packet =
                found.size() >= 6 && found[0] == KSimTrimbleParser::kStx &&
                KSimTrimbleParser::Packet(found[2], {found.begin() + 4, found.end() - 2}, found[1]) == found;
            if ((!enq && !packet) || found.size() > i + 1 ||
                !std::equal(found.begin(), found.end(), data + i + 1 - found.size())) {
                std::fprintf(stderr, "%zu bytes found at %zu are not what was fed\n", found.size(), i);
                std::abort();
            }
            bytesFound += found.size();
        }
    }
    // What it finds does not overlap: never more bytes than came in.
    if (bytesFound > size) std::abort();
    return 0;
}
