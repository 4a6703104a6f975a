#include "comm/KRecordedComm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

KRecordedComm::KRecordedComm(std::vector<uint8_t> data, std::string linkLabel)
    : window(std::move(data)), size(window.size()), name(std::move(linkLabel)) {
    linkType = 200;
    linkName = "recorded";
}

KRecordedComm::KRecordedComm(std::unique_ptr<std::ifstream> stream, uint64_t length, std::string linkLabel)
    : file(std::move(stream)), size(length), name(std::move(linkLabel)) {
    linkType = 200;
    linkName = "recorded";
    window.reserve(kWindowBytes);
}

KRecordedComm::KRecordedComm(KRecordedComm&& other) noexcept
    : file(std::move(other.file)), window(std::move(other.window)), windowStart(other.windowStart),
      size(other.size), position(other.position), name(std::move(other.name)) {
    linkType = other.linkType;
    linkName = other.linkName;
    isOpen = other.isOpen;
    other.window.clear();
    other.size = 0;
    other.position = 0;
    other.windowStart = 0;
    other.isOpen = false;
}

KRecordedComm KRecordedComm::FromFile(const std::string& path, std::string& error) {
    auto stream = std::make_unique<std::ifstream>(path, std::ios::binary | std::ios::ate);
    if (!*stream) {
        error = path + ": " + std::strerror(errno);
        return KRecordedComm({}, path);
    }
    const std::streamoff end = stream->tellg();
    if (end < 0) {
        error = path + ": cannot tell its size";
        return KRecordedComm({}, path);
    }
    error.clear();
    return KRecordedComm(std::move(stream), static_cast<uint64_t>(end), path);
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

bool KRecordedComm::Load(uint64_t length) {
    if (size - position < length) return false;
    if (position >= windowStart && position + length <= windowStart + window.size()) return true;
    if (!file) return false;
    // Refill from the read position; a request larger than the window gets a window of its own.
    const uint64_t want = std::min<uint64_t>(std::max<uint64_t>(length, kWindowBytes), size - position);
    window.resize(static_cast<size_t>(want));
    file->clear();
    file->seekg(static_cast<std::streamoff>(position));
    file->read(reinterpret_cast<char*>(window.data()), static_cast<std::streamsize>(want));
    const auto got = static_cast<uint64_t>(std::max<std::streamsize>(file->gcount(), 0));
    window.resize(static_cast<size_t>(got));
    windowStart = position;
    return got >= length;
}

bool KRecordedComm::ReadExact(void* buffer, uint32_t length) {
    if (length == 0 || !isOpen || !Load(length)) return false;
    const uint8_t* from = window.data() + (position - windowStart);
    if (length == 1) {  // the framers' hunts read byte by byte: spare them a library call
        *static_cast<uint8_t*>(buffer) = *from;
    } else {
        std::memcpy(buffer, from, length);
    }
    position += length;
    return true;
}

int32_t KRecordedComm::ReadAvailable(void* buffer, uint32_t length) {
    if (length == 0 || !isOpen) return 0;
    const uint64_t n = std::min<uint64_t>({length, size - position, kWindowBytes, 0x7FFFFFFF});
    if (n == 0 || !Load(n)) return 0;
    std::memcpy(buffer, window.data() + (position - windowStart), static_cast<size_t>(n));
    position += n;
    return static_cast<int32_t>(n);
}

void KRecordedComm::GetPortName(char* text, uint32_t bufferSize) {
    if (bufferSize == 0) return;
    const size_t n = std::min<size_t>(name.size(), bufferSize - 1);
    std::memcpy(text, name.data(), n);
    text[n] = '\0';
}

bool KRecordedComm::Seek(int32_t offset, int32_t origin) {
    int64_t base;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(position); break;
    case 2: base = static_cast<int64_t>(size); break;
    default: return false;
    }
    position = static_cast<uint64_t>(std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(size)));
    return true;
}
