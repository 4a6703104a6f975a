#include "log/DebugTrace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
// The sink runs under this lock, so that removing it waits for a call in flight; recursive,
// so that a sink may trace.
std::recursive_mutex sinkLock;
std::function<void(const std::string&)> sink;
} // namespace

void SetDebugTraceSink(std::function<void(const std::string& text)> newSink) {
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    sink = std::move(newSink);
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
