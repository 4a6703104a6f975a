#include "cli/StatusLine.h"

StatusLine::StatusLine(std::FILE* stream, bool liveLine, bool useColours)
    : out(stream), live(liveLine), colours(useColours), started(std::chrono::steady_clock::now()) {}

std::string StatusLine::TextFor(int kind, int baud) {
    char text[64];
    switch (kind) {
    case 0: std::snprintf(text, sizeof text, "Pinging receiver at %d baud", baud); break;
    case 1: std::snprintf(text, sizeof text, "Monitoring receiver at %d baud", baud); break;
    case 2: std::snprintf(text, sizeof text, "Auto-detecting receiver baud: %7d", baud); break;
    default: std::snprintf(text, sizeof text, "Inop"); break;
    }
    return text;
}

void StatusLine::Report(int kind, int baud, int value) {
    Show(TextFor(kind, baud), value == 1 ? Colour::Green : Colour::Red);
}

void StatusLine::Show(const std::string& text, Colour colour) {
    std::lock_guard<std::mutex> guard(lock);
    if (live || text != lastText) Write(text, colour, false);
    lastText = text;
}

void StatusLine::Note(const std::string& text, Colour colour) {
    std::lock_guard<std::mutex> guard(lock);
    Write(text, colour, true);
}

void StatusLine::Write(const std::string& text, Colour colour, bool stays) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (live) {
        const char* dot = "(*)";
        if (colours) {
            dot = colour == Colour::Green ? "\033[32m\u25CF\033[0m"
                  : colour == Colour::Red ? "\033[31m\u25CF\033[0m"
                                          : "\033[90m\u25CF\033[0m";
        } else {
            dot = colour == Colour::Green ? "[ OK ]" : colour == Colour::Red ? "[....]" : "[    ]";
        }
        std::fprintf(out, "\r\033[K%s %s  (%.1f s)%s", dot, text.c_str(), seconds, stays ? "\n" : "");
        lineOpen = !stays;
    } else {
        const char* mark = colour == Colour::Green ? "green" : colour == Colour::Red ? "red" : "grey";
        std::fprintf(out, "[%7.1f s] %-5s %s\n", seconds, mark, text.c_str());
    }
    std::fflush(out);
}

void StatusLine::Finish() {
    std::lock_guard<std::mutex> guard(lock);
    if (lineOpen) std::fputc('\n', out);
    lineOpen = false;
    std::fflush(out);
}
