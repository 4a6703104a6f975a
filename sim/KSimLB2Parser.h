#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// How the simulated Leica receiver reads LB2 frames (9C AE, 16-bit length L little-endian, L - 4
// payload bytes, 16-bit two's-complement checksum of the length bytes and payload). Written
// apart from the product's framer on purpose: the test bed must not share code with what it
// tests. It finds every intact frame whatever garbage comes before or around it.
class KSimLB2Parser {
public:
    static constexpr size_t kMaxFrame = 4096;

    // A whole frame around `payload` (at most kMaxFrame - 6 bytes).
    static std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload);
    // The checksum of a frame whose length and payload are `body` (from the length field on).
    static uint16_t Checksum(const uint8_t* body, size_t length);

    // Takes one received byte; intact frames become available through Next.
    void Feed(uint8_t byte);
    void Feed(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) Feed(b);
    }
    // The payload of the next intact frame found, oldest first.
    bool Next(std::vector<uint8_t>& payload);
    void Clear();

    uint64_t Frames() const { return frames; }
    uint64_t BadChecksums() const { return badChecksums; }

private:
    std::vector<uint8_t> buffer;
    std::vector<size_t> syncs;  // positions in `buffer` where a frame may start
    std::deque<std::vector<uint8_t>> ready;
    uint64_t frames = 0;
    uint64_t badChecksums = 0;
};
