#pragma once
#include <mutex>
#include <string>
#include <vector>

// Turns the stream error log on for the scope, points both logs at a fresh temporary folder and
// records every message written. The previous switch, folder and observers are restored after.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> StreamErrors() const;  // messages only, without stamps
    std::vector<std::string> TextLog() const;
    void Clear();
    const std::string& Directory() const { return directory; }

private:
    std::string directory;
    std::string previousDirectory;
    bool previousSwitch;
    mutable std::mutex lock;
    std::vector<std::string> streamErrors;
    std::vector<std::string> textLog;
};
