#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "comm/KComm.h"

// A link over bytes in memory, safe to feed from one thread while another reads. Bytes become
// readable either at once (Feed) or chunk by chunk (Stage, then DeliverNext), so framers can be
// driven through any split of a stream. What is written is kept for inspection.
class KMemoryComm : public KComm {
public:
    KMemoryComm();

    bool Open(int32_t mode) override;
    bool Close() override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;

    void Feed(const void* data, size_t length);
    void Feed(const std::vector<uint8_t>& bytes) { Feed(bytes.data(), bytes.size()); }
    // Queues `bytes` to be released in pieces of `chunkSizes` (cycled; 0 entries are skipped).
    void Stage(const std::vector<uint8_t>& bytes, const std::vector<size_t>& chunkSizes);
    // Releases the next staged chunk; false when nothing staged is left.
    bool DeliverNext();

    size_t Readable() const;
    size_t Staged() const;
    std::vector<uint8_t> TakeWritten();
    void SetWritesFail(bool fail);

private:
    // Bytes are read from the front of a contiguous buffer: the front index moves on and the
    // buffer is compacted only once more has been read than is still held, so a framer reading
    // byte by byte costs a copy of one byte, not a queue's bookkeeping.
    struct ByteQueue {
        std::vector<uint8_t> data;
        size_t front = 0;
        size_t Size() const { return data.size() - front; }
        void Append(const uint8_t* bytes, size_t length);
        void Take(uint8_t* out, size_t length);
    };

    mutable std::mutex lock;
    ByteQueue readable;
    ByteQueue staged;
    std::vector<size_t> chunks;
    size_t nextChunk = 0;
    std::vector<uint8_t> written;
    bool writesFail = false;
};
