#include "support/LogCapture.h"

#include <filesystem>
#include <random>

#include "log/Logs.h"
#include "support/TempDir.h"

LogCapture::LogCapture()
    : directory(MakeTempDir("velinor-log")), previousDirectory(LogDirectory()),
      previousSwitch(StreamErrorLogEnabled()) {
    SetLogDirectory((std::filesystem::path(directory) / "").string());
    SetStreamErrorLogEnabled(true);
    SetStreamErrorObserver([this](const std::string&, const std::string& message) {
        std::lock_guard<std::mutex> guard(lock);
        streamErrors.push_back(message);
    });
    SetSixSigmaObserver([this](const std::string&, const std::string& message) {
        std::lock_guard<std::mutex> guard(lock);
        textLog.push_back(message);
    });
}

LogCapture::~LogCapture() {
    SetStreamErrorObserver(nullptr);
    SetSixSigmaObserver(nullptr);
    SetStreamErrorLogEnabled(previousSwitch);
    SetLogDirectory(previousDirectory);
    std::error_code ec;
    std::filesystem::remove_all(directory, ec);
}

std::vector<std::string> LogCapture::StreamErrors() const {
    std::lock_guard<std::mutex> guard(lock);
    return streamErrors;
}

std::vector<std::string> LogCapture::TextLog() const {
    std::lock_guard<std::mutex> guard(lock);
    return textLog;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> guard(lock);
    streamErrors.clear();
    textLog.clear();
}
