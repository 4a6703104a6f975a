// The simulated receiver's LB2 reader on arbitrary bytes: every payload it finds must be the
// payload of an intact frame that really is in the input.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/KSimLeicaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KSimLeicaParser parser;
    size_t found = 0;
    for (size_t i = 0; i < size; ++i) {
        parser.Feed(data[i]);
        for (std::vector<uint8_t> payload; parser.Next(payload);) {
            const std::vector<uint8_t> frame = KSimLeicaParser::Frame(payload);
            // The frame must end exactly at the byte just fed.
            if (frame.size() > i + 1 || !std::equal(frame.begin(), frame.end(), data + i + 1 - frame.size())) {
                std::fprintf(stderr, "payload of %zu bytes is not a frame ending at %zu\n", payload.size(), i);
                std::abort();
            }
            ++found;
        }
    }
    if (found * 6 > size) std::abort();
    return 0;
}
