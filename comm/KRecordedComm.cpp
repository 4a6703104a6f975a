#include "comm/KRecordedComm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

KRecordedComm::KRecordedComm(std::vector<uint8_t> data, std::string linkLabel)
    : bytes(std::move(data)), name(std::move(linkLabel)) {
    linkType = 200;
    linkName = "recorded";
}

KRecordedComm::KRecordedComm(KRecordedComm&& other) noexcept
    : bytes(std::move(other.bytes)), name(std::move(other.name)), position(other.position) {
    linkType = other.linkType;
    linkName = other.linkName;
    isOpen = other.isOpen;
    other.position = 0;
}

KRecordedComm KRecordedComm::FromFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return KRecordedComm({}, path);
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": read error";
        return KRecordedComm({}, path);
    }
    error.clear();
    return KRecordedComm(std::move(data), path);
}

bool KRecordedComm::Open(int32_t) {
    isOpen = true;
    return true;
}

bool KRecordedComm::Close() {
    isOpen = false;
    return true;
}

bool KRecordedComm::Write(const void*, uint32_t) { return false; }  // a recording only plays back

bool KRecordedComm::ReadExact(void* buffer, uint32_t length) {
    if (length == 0 || !isOpen || bytes.size() - position < length) return false;
    // Framers hunt one byte at a time: spare that read a library call.
    if (length == 1) *static_cast<uint8_t*>(buffer) = bytes[position];
    else std::memcpy(buffer, bytes.data() + position, length);
    position += length;
    return true;
}

int32_t KRecordedComm::ReadAvailable(void* buffer, uint32_t length) {
    if (length == 0 || !isOpen) return 0;
    const size_t n = std::min<size_t>({length, bytes.size() - position, 0x7FFFFFFF});
    std::memcpy(buffer, bytes.data() + position, n);
    position += n;
    return static_cast<int32_t>(n);
}

void KRecordedComm::GetPortName(char* text, uint32_t size) {
    if (size == 0) return;
    const size_t n = std::min<size_t>(name.size(), size - 1);
    std::memcpy(text, name.data(), n);
    text[n] = '\0';
}

bool KRecordedComm::Seek(int32_t offset, int32_t origin) {
    int64_t base;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(position); break;
    case 2: base = static_cast<int64_t>(bytes.size()); break;
    default: return false;
    }
    const int64_t target = std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(bytes.size()));
    position = static_cast<size_t>(target);
    return true;
}
