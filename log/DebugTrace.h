#pragma once
#include <functional>
#include <string>

#include "log/Logs.h"

// Receiver traces ("Ping failed ...\n"). Nothing is written unless a
// front end installs a sink (the command line's --verbose does).
void DebugTrace(const char* format, ...) VELINOR_PRINTF(1, 2);
void SetDebugTraceSink(std::function<void(const std::string& text)> sink);
