#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// How the simulated SiRF receiver reads packets: A0 A2, payload length L (big-endian), L payload
// bytes starting with the message ID, the payload's 15-bit sum (big-endian) and B0 B3. Written
// apart from the product's framer on purpose: the test bed must not share code with what it
// tests. A packet is recognised by its end: whenever B0 B3 arrives, the oldest start within the
// input buffer whose length and checksum make an intact packet ending there is taken. So any
// garbage before or around a packet, a start whose length points far ahead included, never
// hides it.
class KSimSiRFParser {
public:
    // The receiver's input buffer: longer packets are never recognised.
    static constexpr size_t kMaxPacket = 1024;
    static constexpr size_t kOverhead = 8;  // start, length, checksum and end

    // A whole packet around `payload` (its first byte the message ID; at most kMaxPacket -
    // kOverhead bytes are taken).
    static std::vector<uint8_t> Packet(const std::vector<uint8_t>& payload);
    // The sum of `length` payload bytes, kept to 15 bits.
    static uint16_t Checksum(const uint8_t* payload, size_t length);

    // Takes one received byte; intact packets become available through Next.
    void Feed(uint8_t byte);
    void Feed(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) Feed(b);
    }
    // The next intact packet found, whole (A0 to B3), oldest first.
    bool Next(std::vector<uint8_t>& packet);
    void Clear();

    uint64_t Packets() const { return packets; }

private:
    // Whether the bytes from `start` to the end of the buffer are one intact packet.
    bool IntactFrom(size_t start) const;

    std::vector<uint8_t> buffer;  // the latest bytes, at most two input buffers' worth
    std::deque<std::vector<uint8_t>> ready;
    uint64_t packets = 0;
};
