#include "comm/KRecordedComm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr size_t kStreamChunk = 64 * 1024;

#if defined(_WIN32)
bool SeekTo(std::FILE* file, uint64_t offset) { return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0; }
#else
bool SeekTo(std::FILE* file, uint64_t offset) { return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }
#endif

// What a path that is no regular file names instead, for the refusal.
#if defined(_WIN32)
const char* KindOf(unsigned short mode) {
    if ((mode & _S_IFMT) == _S_IFDIR) return "a folder";
    if ((mode & _S_IFMT) == _S_IFCHR) return "a device";
    return "not a regular file";
}
#else
const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}
#endif

} // namespace

KRecordedComm::KRecordedComm(std::vector<uint8_t> data, std::string linkLabel)
    : window(std::move(data)), size(window.size()), name(std::move(linkLabel)) {
    linkType = 200;
    linkName = "recorded";
}

KRecordedComm::KRecordedComm(std::FILE* stream, bool owns, uint64_t length, std::string linkLabel)
    : file(stream), ownsFile(owns), size(length), name(std::move(linkLabel)) {
    linkType = 200;
    linkName = "recorded";
    window.reserve(kWindowBytes);
}

KRecordedComm::KRecordedComm(KRecordedComm&& other) noexcept
    : file(other.file), ownsFile(other.ownsFile), streamed(other.streamed), ended(other.ended), keep(other.keep),
      window(std::move(other.window)), windowStart(other.windowStart), size(other.size), position(other.position),
      name(std::move(other.name)) {
    linkType = other.linkType;
    linkName = other.linkName;
    isOpen = other.isOpen;
    other.file = nullptr;
    other.ownsFile = false;
    other.window.clear();
    other.size = 0;
    other.position = 0;
    other.windowStart = 0;
    other.isOpen = false;
}

KRecordedComm::~KRecordedComm() {
    if (file && ownsFile) std::fclose(file);
}

KRecordedComm KRecordedComm::FromFile(const std::string& path, std::string& error) {
    const auto fail = [&](const std::string& why) {
        error = path + ": " + why;
        return KRecordedComm({}, path);
    };
#if defined(_WIN32)
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (!stream) return fail(std::strerror(errno));
    struct _stat64 info {};
    if (_fstat64(_fileno(stream), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        std::fclose(stream);
        return fail(std::string("is ") + KindOf(info.st_mode) + ", not a recording file");
    }
#else
    // Not blocking in the open of a FIFO, and judging the very file opened, not the path again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return fail(std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(std::string("is ") + KindOf(info.st_mode) + ", not a recording file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* stream = ::fdopen(fd, "rb");
    if (!stream) {
        ::close(fd);
        return fail(std::strerror(errno));
    }
#endif
    error.clear();
    return KRecordedComm(stream, true, static_cast<uint64_t>(info.st_size), path);
}

KRecordedComm KRecordedComm::FromStream(std::FILE* stream, std::string linkLabel, size_t keepBytes) {
#if defined(_WIN32)
    _setmode(_fileno(stream), _O_BINARY);
#endif
    KRecordedComm link(stream, false, 0, std::move(linkLabel));
    link.streamed = true;
    link.keep = keepBytes;
    return link;
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

void KRecordedComm::Fill(uint64_t end, uint64_t keepFrom) {
    if (keepFrom > windowStart) {
        const auto drop = static_cast<size_t>(std::min<uint64_t>(keepFrom - windowStart, window.size()));
        window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(drop));
        windowStart += drop;
    }
    while (!ended && windowStart + window.size() < end) {
        const size_t held = window.size();
        window.resize(held + kStreamChunk);
        const size_t got = std::fread(window.data() + held, 1, kStreamChunk, file);
        window.resize(held + got);
        if (got == 0) ended = true;
    }
    size = windowStart + window.size();
}

bool KRecordedComm::Load(uint64_t length) {
    if (streamed) {
        if (position + length > windowStart + window.size())
            Fill(position + length, position > keep ? position - keep : 0);
        return position + length <= windowStart + window.size();
    }
    if (size - position < length) return false;
    if (position >= windowStart && position + length <= windowStart + window.size()) return true;
    if (!file) return false;
    // Refill from the read position; a request larger than the window gets a window of its own.
    const uint64_t want = std::min<uint64_t>(std::max<uint64_t>(length, kWindowBytes), size - position);
    window.resize(static_cast<size_t>(want));
    std::clearerr(file);
    const size_t got = SeekTo(file, position) ? std::fread(window.data(), 1, window.size(), file) : 0;
    window.resize(got);
    windowStart = position;
    return got >= length;
}

bool KRecordedComm::AtEnd() { return !Load(1); }

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
    if (length == 0 || !isOpen || !Load(1)) return 0;
    uint64_t n = std::min<uint64_t>({length, kWindowBytes, 0x7FFFFFFF});
    if (streamed) {
        n = std::min<uint64_t>(n, windowStart + window.size() - position);
    } else {
        n = std::min<uint64_t>(n, size - position);
        if (!Load(n)) return 0;
    }
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
    case 2:
        if (streamed) {
            // Read to the end, holding no more than its last `keep` bytes (and one chunk).
            while (!ended) {
                const uint64_t end = windowStart + window.size();
                Fill(end + kStreamChunk, end > keep ? end - keep : 0);
            }
        }
        base = static_cast<int64_t>(size);
        break;
    default: return false;
    }
    auto target = static_cast<uint64_t>(std::max<int64_t>(base + offset, 0));
    if (streamed) {
        if (target < windowStart) return false;  // no longer held
        // Forward, chunk by chunk, holding only the last `keep` bytes of what is passed over.
        while (!ended && target > size) {
            const uint64_t end = windowStart + window.size();
            Fill(std::min(target, end + kStreamChunk), end > keep ? end - keep : 0);
        }
    }
    position = std::min<uint64_t>(target, size);
    return true;
}
