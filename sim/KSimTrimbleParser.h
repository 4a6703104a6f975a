#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// How the simulated Trimble receiver reads what the host sends: packets (STX 02, status, type,
// length L, L data bytes, checksum = sum of status, type, length and data modulo 256, ETX 03)
// and the lone ENQ byte (05) with which a host asks whether the receiver is there. Written apart
// from the product's framer on purpose: the test bed must not share code with what it tests.
// It finds every intact packet whatever garbage comes before or around it.
class KSimTrimbleParser {
public:
    static constexpr uint8_t kStx = 0x02;
    static constexpr uint8_t kEtx = 0x03;
    static constexpr uint8_t kEnq = 0x05;
    static constexpr size_t kMaxPacket = 261;

    // A whole packet around `data` (at most 255 bytes are taken).
    static std::vector<uint8_t> Packet(uint8_t type, const std::vector<uint8_t>& data, uint8_t status = 0x00);
    static uint8_t Checksum(const uint8_t* fromStatus, size_t length);

    // Takes one received byte; intact packets become available through Next.
    void Feed(uint8_t byte);
    void Feed(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) Feed(b);
    }
    // The next intact packet found (STX to ETX), or a lone ENQ as the one byte 05; oldest first.
    bool Next(std::vector<uint8_t>& packet);
    void Clear();

    uint64_t Packets() const { return packets; }
    uint64_t Rejected() const { return rejected; }

private:
    std::vector<uint8_t> buffer;
    std::vector<size_t> starts;  // positions in `buffer` where a packet may start
    std::deque<std::vector<uint8_t>> ready;
    uint64_t packets = 0;
    uint64_t rejected = 0;
};
