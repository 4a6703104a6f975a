#pragma once
#include <string>

// A new, empty folder under the system's temporary directory.
std::string MakeTempDir(const std::string& prefix);

// The whole of a file, byte for byte; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Removes the folder and everything in it when the scope ends.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "velinor-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const;

private:
    std::string path;
};
