#pragma once
#include <cstdint>
#include <functional>
#include <string>

#if defined(__MINGW32__)
#define VELINOR_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define VELINOR_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

class KStreamMonitor;

// The monthly diagnostic text log, "<dir>QvxSixSigma_YYYY_MM.txt" (local month).
void SixSigmaLog(const char* format, ...) VELINOR_PRINTF(1, 2);

// The monthly stream error log of the monitor's client, "<dir>QuorvexStreamErrors_<client>_YYYY_MM.log"
// (UTC month); writes only while the stream error switch is on.
void StreamErrorLog(const KStreamMonitor* monitor, const char* format, ...) VELINOR_PRINTF(2, 3);

// The process-wide stream error switch; off at start.
void SetStreamErrorLogEnabled(bool enabled);
bool StreamErrorLogEnabled();

// Why a line of the stream error log of client `clientName` could not be written now (the path
// and the reason: a symbolic link, a FIFO or folder in its place, a folder or file that may not
// be written), or empty when it can. Creates nothing: a front end asks before it starts, so
// that a log it was asked for is not silently missing.
std::string StreamErrorLogProblem(const std::string& clientName);
// Stream error lines that were lost because their file could not be opened, and the last
// such file, since the program started.
struct KLogLosses {
    uint64_t lines = 0;
    std::string path;
};
KLogLosses StreamErrorLogLosses();

// The directory prefix of both logs, ending in the separator (".\" on Windows, "./" elsewhere).
std::string LogDirectory();
void SetLogDirectory(const std::string& prefix);

// Observers see every message, after its file write was tried; the stream error observer sees
// them even while the switch is off and no file is written (tests, the command line's counts).
// The client name is empty for the text log. Pass nullptr to remove.
using KLogObserver = std::function<void(const std::string& clientName, const std::string& message)>;
void SetStreamErrorObserver(KLogObserver observer);
void SetSixSigmaObserver(KLogObserver observer);
