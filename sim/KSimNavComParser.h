#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// How the simulated NavCom receiver reads packets: 02 99 66, message ID, 16-bit length N (low
// byte first, counting itself, the payload, the checksum and the ETX), N - 4 payload bytes, the
// XOR of ID, length and payload, and 03. Written apart from the product's framer on purpose:
// the test bed must not share code with what it tests. It finds every intact packet whatever
// garbage comes before or around it.
class KSimNavComParser {
public:
    static constexpr size_t kMaxPacket = 4096;
    static constexpr size_t kHeader = 6;
    static constexpr size_t kOverhead = 8;  // header, checksum and ETX

    // A whole packet around `payload` (at most kMaxPacket - kOverhead bytes).
    static std::vector<uint8_t> Packet(uint8_t id, const std::vector<uint8_t>& payload);
    // The XOR of `length` bytes (a packet's ID, length field and payload).
    static uint8_t Checksum(const uint8_t* bytes, size_t length);

    // Takes one received byte; intact packets become available through Next.
    void Feed(uint8_t byte);
    void Feed(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) Feed(b);
    }
    // The next intact packet found, whole (sync to ETX), oldest first.
    bool Next(std::vector<uint8_t>& packet);
    void Clear();

    uint64_t Packets() const { return packets; }
    // Candidates that reached their stated length but failed checksum or ETX.
    uint64_t BadPackets() const { return badPackets; }

private:
    std::vector<uint8_t> buffer;
    std::vector<size_t> syncs;  // positions in `buffer` where a packet may start
    std::deque<std::vector<uint8_t>> ready;
    uint64_t packets = 0;
    uint64_t badPackets = 0;
};
