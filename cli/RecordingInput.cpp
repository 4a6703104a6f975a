#include "cli/RecordingInput.h"

#include <cstdio>
#include <filesystem>

#include "log/Logs.h"

namespace fs = std::filesystem;

KRecordedComm OpenRecording(const std::string& path, size_t keepBytes, std::string& error) {
    error.clear();
    if (path == "-") return KRecordedComm::FromStream(stdin, "standard input", keepBytes);
    KRecordedComm link = KRecordedComm::FromFile(path, error);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (error.empty() || ec || !fs::exists(status) || fs::is_regular_file(status)) return link;
    error += ": give a recording file, or - to read standard input";
    if (fs::is_character_file(status)) error += "; for a live port, use 'velinor identify --port " + path + "'";
    return link;
}

std::string StreamErrorLogRefusal(const std::string& clientName) {
    const std::string problem = StreamErrorLogProblem(clientName);
    return problem.empty() ? problem : "cannot write the stream error log " + problem;
}

std::string StreamErrorLogLossText() {
    const KLogLosses losses = StreamErrorLogLosses();
    if (losses.lines == 0) return std::string();
    return std::to_string(losses.lines) + " stream error line" + (losses.lines == 1 ? " was" : "s were") +
           " lost: " + losses.path + " could not be written";
}
