#pragma once
#include <cstdio>
#include <string>

// The little the command line needs from the platform's console and environment.
namespace KConsole {

// True when `stream` is an interactive terminal (a live status line makes sense there).
bool IsTerminal(std::FILE* stream);
// Turns on ANSI colour sequences where the console needs asking (Windows); true when usable.
bool EnableColours(std::FILE* stream);
// Calls `handler` with SIGINT on Ctrl-C and with SIGTERM on a termination request (closing the
// console on Windows). It runs as a signal handler: it must only set flags.
void OnInterrupt(void (*handler)(int signal));
// Where the command line keeps its remembered choices: beside the program on Windows, in the
// user's config folder elsewhere (created if missing); "" when there is none.
std::string SettingsFilePath();
// The OS's words for an error number of the platform (errno, GetLastError()).
std::string ErrorText(int error);

} // namespace KConsole
