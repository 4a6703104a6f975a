#include "comm/KIniSettingsStore.h"

std::string KIniPathBeside(const std::string& programPath) {
    std::string file = programPath;
    const size_t dot = file.find_last_of('.');
    const size_t slash = file.find_last_of("\\/");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) file.resize(dot);
    return file + ".ini";
}
