#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "log/Logs.h"

// Receiver traces ("Ping failed ...\n"). Nothing is written unless a
// front end installs a sink (the command line's --verbose does).
void DebugTrace(const char* format, ...) VELINOR_PRINTF(1, 2);
void SetDebugTraceSink(std::function<void(const std::string& text)> sink);

// Whether a sink is installed: a trace that costs work to form (a byte dump) is formed only then.
bool DebugTraceActive();

// The time stamp of an exchange trace: seconds since the first stamp after the sink was
// installed, "  12.345 s".
std::string DebugTraceStamp();

// How many bytes a dump shows before it only counts the rest: a command or a reply fits whole,
// a chunk of periodic output does not flood the trace.
constexpr size_t kTraceDumpBytes = 64;

// Bytes as a trace shows them: hex, and the text when most of them are printable
// ("24 50 4D 54 4B 0D 0A |$PMTK..|"); past `limit` bytes, "... (N bytes in all)".
std::string TraceBytesText(const void* data, size_t length, size_t limit = kTraceDumpBytes);
