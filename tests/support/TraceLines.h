#pragma once
// The receivers' own trace texts ("Ping failed ...\n") written while it lives, without the
// exchange lines (each command sent, each reply or silence) that --verbose shows beside them.
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "log/DebugTrace.h"

struct TraceLines {
    TraceLines() {
        SetDebugTraceSink([this](const std::string& text) {
            static const std::regex exchange(R"(^ *\d+\.\d{3} s  )");
            if (!std::regex_search(text, exchange)) lines.push_back(text);
        });
    }
    ~TraceLines() { SetDebugTraceSink(nullptr); }
    TraceLines(const TraceLines&) = delete;
    TraceLines& operator=(const TraceLines&) = delete;

    std::vector<std::string> Take() { return std::exchange(lines, {}); }

    std::vector<std::string> lines;
};
