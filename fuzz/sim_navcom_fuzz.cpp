// The simulated NavCom receiver's packet reader on arbitrary bytes: every packet it finds must
// be an intact packet (sync, length, checksum, ETX) that really is in the input, ending at the
// byte just fed, and packets never share bytes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/KSimNavComParser.h"

namespace {
bool Intact(const std::vector<uint8_t>& packet) {
    if (packet.size() < KSimNavComParser::kOverhead || packet.size() > KSimNavComParser::kMaxPacket) return false;
    if (packet[0] != 0x02 || packet[1] != 0x99 || packet[2] != 0x66 || packet.back() != 0x03) return false;
    if (static_cast<size_t>(packet[4] | packet[5] << 8) + 4 != packet.size()) return false;
    uint8_t sum = 0;
    for (size_t i = 3; i + 2 < packet.size(); ++i) sum ^= packet[i];
    return sum == packet[packet.size() - 2];
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KSimNavComParser parser;
    size_t taken = 0;
    size_t lastEnd = 0;
    for (size_t i = 0; i < size; ++i) {
        parser.Feed(data[i]);
        for (std::vector<uint8_t> packet; parser.Next(packet);) {
            const size_t end = i + 1;
            if (!Intact(packet) || packet.size() > end - lastEnd ||
                !std::equal(packet.begin(), packet.end(), data + end - packet.size())) {
                std::fprintf(stderr, "packet of %zu bytes is not an intact packet ending at %zu\n", packet.size(), i);
                std::abort();
            }
            taken += packet.size();
            lastEnd = end;
        }
    }
    if (taken > size || parser.Frames() * KSimNavComParser::kOverhead > size) std::abort();
    return 0;
}
