#pragma once
#include <string>

// Why the last open of a serial link failed, for front ends to report. `text` is one of the two
// user-facing texts; the rest adds what a person needs to act on it.
struct KOpenError {
    enum Kind { None, NotPresent, Busy, Settings };
    Kind kind = None;
    std::string text;    // "COM Port Busy Or Not Installed" or "Unable to initialize COM Port to requested settings"
    std::string device;  // the device path tried
    int osError = 0;     // errno or GetLastError()
    std::string reason;  // the OS's words for osError
    std::string remedy;  // what usually helps, or empty
};
