#include "comm/KMemoryComm.h"

#include <algorithm>
#include <cstring>

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
    if (length == 0 || !isOpen || readable.size() < length) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    std::copy_n(readable.begin(), length, out);
    readable.erase(readable.begin(), readable.begin() + length);
    return true;
}

int32_t KMemoryComm::ReadAvailable(void* buffer, uint32_t length) {
    std::lock_guard<std::mutex> guard(lock);
    if (length == 0 || !isOpen) return 0;
    const size_t n = std::min<size_t>(length, readable.size());
    std::copy_n(readable.begin(), n, static_cast<uint8_t*>(buffer));
    readable.erase(readable.begin(), readable.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int32_t>(n);
}

void KMemoryComm::GetPortName(char* text, uint32_t size) {
    if (size >= 4) std::memcpy(text, "MEM", 4);
    else if (size >= 2) std::memcpy(text, "?", 2);
}

void KMemoryComm::Feed(const void* data, size_t length) {
    std::lock_guard<std::mutex> guard(lock);
    const auto* bytes = static_cast<const uint8_t*>(data);
    readable.insert(readable.end(), bytes, bytes + length);
}

void KMemoryComm::Stage(const std::vector<uint8_t>& bytes, const std::vector<size_t>& chunkSizes) {
    std::lock_guard<std::mutex> guard(lock);
    staged.insert(staged.end(), bytes.begin(), bytes.end());
    chunks = chunkSizes;
    nextChunk = 0;
}

bool KMemoryComm::DeliverNext() {
    std::lock_guard<std::mutex> guard(lock);
    if (staged.empty()) return false;
    size_t size = staged.size();
    if (!chunks.empty()) {
        for (size_t tries = 0; tries < chunks.size(); ++tries) {
            const size_t candidate = chunks[nextChunk++ % chunks.size()];
            if (candidate > 0) {
                size = std::min(candidate, staged.size());
                break;
            }
        }
    }
    readable.insert(readable.end(), staged.begin(), staged.begin() + static_cast<std::ptrdiff_t>(size));
    staged.erase(staged.begin(), staged.begin() + static_cast<std::ptrdiff_t>(size));
    return true;
}

size_t KMemoryComm::Readable() const {
    std::lock_guard<std::mutex> guard(lock);
    return readable.size();
}

size_t KMemoryComm::Staged() const {
    std::lock_guard<std::mutex> guard(lock);
    return staged.size();
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
