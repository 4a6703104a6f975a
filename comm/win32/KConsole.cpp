#include "comm/KConsole.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <io.h>

#include "comm/KIniSettingsStore.h"

namespace {
void (*interruptHandler)(int) = nullptr;
BOOL WINAPI OnControl(DWORD kind) {
    if (kind == CTRL_C_EVENT || kind == CTRL_BREAK_EVENT || kind == CTRL_CLOSE_EVENT) {
        if (interruptHandler) interruptHandler(kind == CTRL_CLOSE_EVENT ? SIGTERM : SIGINT);
        return TRUE;
    }
    return FALSE;
}
} // namespace

namespace KConsole {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

bool EnableColours(std::FILE* stream) {
    if (!IsTerminal(stream) || std::getenv("NO_COLOR")) return false;
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode)) return false;
    return SetConsoleMode(handle, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */) != 0;
}

void OnInterrupt(void (*handler)(int)) {
    interruptHandler = handler;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

std::string SettingsFilePath() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return "";
    return KIniPathBeside(std::string(path, n));
}

std::string ErrorText(int error) {
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

} // namespace KConsole
