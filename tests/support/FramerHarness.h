#pragma once
#include <cstdint>
#include <string>
#include <vector>

class KStreamMonitor;

using Bytes = std::vector<uint8_t>;

enum class Chunking { OneByte, Random, AllAtOnce };

// The chunk sizes in which a stream of `total` bytes arrives.
std::vector<size_t> ChunkSizes(Chunking chunking, size_t total, uint32_t seed = 1);

struct FramedRun {
    std::vector<Bytes> messages;       // every delivered message, in order
    std::vector<std::string> errors;   // every stream error message, in order
};

// Drives `monitor` (without a reader thread) over `stream` arriving in the given chunks: after
// each chunk, ReadStep runs until it answers false. The stream error log is captured.
FramedRun RunFramer(KStreamMonitor& monitor, const Bytes& stream, Chunking chunking,
                    uint32_t seed = 1);

// Concatenation helper for building streams.
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Repeat(uint8_t value, size_t count);
// `value` in `bytes` bytes, least significant first, and the number `width` such bytes at `at` hold.
Bytes LE(uint64_t value, int bytes);
uint64_t ReadLE(const Bytes& bytes, size_t at, size_t width);
// Parses "9C AE 0C 00" into bytes.
Bytes Hex(const std::string& text);
std::string ToHex(const Bytes& bytes);
