#include "log/DebugTrace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex sinkLock;
std::function<void(const std::string&)> sink;
} // namespace

void SetDebugTraceSink(std::function<void(const std::string& text)> newSink) {
    std::lock_guard<std::mutex> guard(sinkLock);
    sink = std::move(newSink);
}

void DebugTrace(const char* format, ...) {
    std::function<void(const std::string&)> current;
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        current = sink;
    }
    if (!current) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    current(text);
}
