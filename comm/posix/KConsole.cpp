#include "comm/KConsole.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {
void (*interruptHandler)(int) = nullptr;
extern "C" void OnSignal(int signal) {
    if (interruptHandler) interruptHandler(signal);
}
} // namespace

namespace KConsole {

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool EnableColours(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    return IsTerminal(stream) && !std::getenv("NO_COLOR") && term && std::strcmp(term, "dumb") != 0;
}

void OnInterrupt(void (*handler)(int)) {
    interruptHandler = handler;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string SettingsFilePath() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = std::filesystem::path(home) / ".config";
    else return "";
    const std::filesystem::path dir = base / "velinor";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return ec ? "" : (dir / "velinor.ini").string();
}

std::string ErrorText(int error) { return std::strerror(error); }

} // namespace KConsole
