#include "log/DebugTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "time/KClock.h"

namespace {
// The sink runs under this lock, so that removing it waits for a call in flight; recursive,
// so that a sink may trace.
std::recursive_mutex sinkLock;
std::function<void(const std::string&)> sink;
std::atomic<bool> active{false};
// Where the stamps count from; unset until the first stamp after a sink is installed (the clock
// in force then is the one the traced work runs on).
std::mutex stampLock;
bool stampOriginSet = false;
int64_t stampOriginMs = 0;

bool Printable(uint8_t byte) { return (byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\n' || byte == '\t'; }
} // namespace

void SetDebugTraceSink(std::function<void(const std::string& text)> newSink) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    sink = std::move(newSink);
    active.store(static_cast<bool>(sink));
    std::lock_guard<std::mutex> stampGuard(stampLock);
    stampOriginSet = false;
}

bool DebugTraceActive() { return active.load(std::memory_order_relaxed); }

std::string DebugTraceStamp() {
    const int64_t now = KClock::Current().NowMs();
    int64_t elapsed = 0;
    {
        std::lock_guard<std::mutex> guard(stampLock);
        if (!stampOriginSet) {
            stampOriginSet = true;
            stampOriginMs = now;
        }
        elapsed = now - stampOriginMs;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%4lld.%03lld s", static_cast<long long>(elapsed / 1000),
                  static_cast<long long>(elapsed % 1000));
    return text;
}

std::string TraceBytesText(const void* data, size_t length, size_t limit) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t shown = length < limit ? length : limit;
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    std::string text;
    size_t printable = 0;
    for (size_t i = 0; i < shown; ++i) {
        if (i) hex += ' ';
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0x0F];
        const bool plain = bytes[i] >= 0x20 && bytes[i] < 0x7F;
        if (Printable(bytes[i])) ++printable;
        text += plain ? static_cast<char>(bytes[i]) : '.';
    }
    // Text protocols read best as text; in binary ones a few letters by chance say nothing.
    if (shown > 0 && printable * 4 >= shown * 3) hex += " |" + text + "|";
    if (shown < length) hex += " ... (" + std::to_string(length) + " bytes in all)";
    return hex;
}

void DebugTrace(const char* format, ...) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    if (!sink) return;
    char text[2048];
    text[0] = '\0';
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink(length < 0 ? std::string(format) : std::string(text));
}
