// The simulated SiRF receiver's packet reader (and what the receiver does with the packets) on
// arbitrary bytes: nothing crashes, every request it cuts out is an intact packet (start,
// length, a message ID, checksum, end) that is the run of input bytes ending at the byte just
// fed, requests never share bytes, and every answer and rate switch then runs its course.
#include <vector>

#include "SimDeviceFuzz.h"
#include "comm/KBaudRates.h"
#include "sim/KSiRFDevice.h"

namespace {

// Whole, from start to end, with the length and checksum its payload calls for.
bool Intact(const std::vector<uint8_t>& r) {
    return r.size() > KSimSiRFParser::kOverhead && r.size() <= KSimSiRFParser::kMaxPacket &&
           KSimSiRFParser::Packet({r.begin() + 4, r.end() - 4}) == r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the set-up: its rate, faults and whether it streams.
    KSimDeviceOptions options;
    options.wrongAcknowledgements = (data[0] & 0x08) != 0;
    options.refusesRateChange = (data[0] & 0x10) != 0;
    options.streaming = (data[0] & 0x20) != 0;
    options.silent = (data[0] & 0x40) != 0;
    auto device = KSiRFDevice::Create(10, static_cast<uint32_t>(kBaudRates[data[0] % kBaudRates.size()]), options);
    if (!device) FuzzFail("no device for a valid set-up", 0);
    FuzzSimDevice(static_cast<KSiRFDevice&>(*device), data + 1, size - 1, Intact);
    return 0;
}
