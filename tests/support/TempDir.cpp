#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string MakeTempDir(const std::string& prefix) {
    static std::atomic<unsigned> serial{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path candidate = fs::temp_directory_path() /
                             (prefix + "-" + std::to_string(stamp) + "-" + std::to_string(serial++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) return candidate.string();
    }
}

TempDir::TempDir(const std::string& prefix) : path(MakeTempDir(prefix)) {}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string TempDir::File(const std::string& name) const { return (fs::path(path) / name).string(); }

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
