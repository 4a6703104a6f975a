#include "comm/KMemoryComm.h"

#include <algorithm>
#include <cstring>

void KMemoryComm::ByteQueue::Append(const uint8_t* bytes, size_t length) {
    if (front > 0 && front >= Size()) {
        data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(front));
        front = 0;
    }
    data.insert(data.end(), bytes, bytes + length);
}

void KMemoryComm::ByteQueue::Take(uint8_t* out, size_t length) {
    // Framers mostly read one byte at a time: that one needs no call to copy.
    if (out != nullptr && length == 1) *out = data[front];
    else if (out != nullptr && length > 0) std::memcpy(out, data.data() + front, length);
    front += length;
    if (front == data.size()) {
        data.clear();
        front = 0;
    }
}

KMemoryComm::KMemoryComm() {
    linkType = 1;
    linkName = "memory";
}

bool KMemoryComm::Open(int32_t) {
    isOpen = true;
    return true;
}

bool KMemoryComm::Close() {
    isOpen = false;
    return true;
}

bool KMemoryComm::Write(const void* data, uint32_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (length == 0 || !isOpen || writesFail) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    written.insert(written.end(), bytes, bytes + length);
    return true;
}

bool KMemoryComm::ReadExact(void* buffer, uint32_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (length == 0 || !isOpen || readable.Size() < length) return false;
    readable.Take(static_cast<uint8_t*>(buffer), length);
    return true;
}

int32_t KMemoryComm::ReadAvailable(void* buffer, uint32_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (length == 0 || !isOpen) return 0;
    const size_t n = std::min<size_t>(length, readable.Size());
    readable.Take(static_cast<uint8_t*>(buffer), n);
    return static_cast<int32_t>(n);
}

void KMemoryComm::GetPortName(char* text, uint32_t size) {
    if (size >= 4) std::memcpy(text, "MEM", 4);
    else if (size >= 2) std::memcpy(text, "?", 2);
}

void KMemoryComm::Feed(const void* data, size_t length) {
    std::lock_guard<std::mutex> guard(lock);
    readable.Append(static_cast<const uint8_t*>(data), length);
}

void KMemoryComm::Stage(const std::vector<uint8_t>& bytes, const std::vector<size_t>& chunkSizes) {
    std::lock_guard<std::mutex> guard(lock);
    staged.Append(bytes.data(), bytes.size());
    chunks = chunkSizes;
    nextChunk = 0;
}

bool KMemoryComm::DeliverNext() {
    std::lock_guard<std::mutex> guard(lock);
    if (staged.Size() == 0) return false;
    size_t size = staged.Size();
    if (!chunks.empty()) {
        for (size_t tries = 0; tries < chunks.size(); ++tries) {
            const size_t candidate = chunks[nextChunk++ % chunks.size()];
            if (candidate > 0) {
                size = std::min(candidate, staged.Size());
                break;
            }
        }
    }
    readable.Append(staged.data.data() + staged.front, size);
    staged.Take(nullptr, size);
    return true;
}

size_t KMemoryComm::Readable() const {
    std::lock_guard<std::mutex> guard(lock);
    return readable.Size();
}

size_t KMemoryComm::Staged() const {
    std::lock_guard<std::mutex> guard(lock);
    return staged.Size();
}

std::vector<uint8_t> KMemoryComm::TakeWritten() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<uint8_t> out;
    out.swap(written);
    return out;
}

void KMemoryComm::SetWritesFail(bool fail) {
    std::lock_guard<std::mutex> guard(lock);
    writesFail = fail;
}
