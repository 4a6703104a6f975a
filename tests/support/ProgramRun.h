#pragma once
// The velinor program run as a user runs it, for end-to-end tests (not on Windows).
#include <string>

#include "support/TempDir.h"

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::string Both() const { return out + err; }
};

// Runs `velinor ARGUMENTS` in `workDir` with its settings under `configDir` (each: the test's
// own folder when empty) and collects its exit code and both outputs. A `launcher` ("setpriv
// --reuid=...") starts the program in its stead. The file `input`, when given, reaches the
// program's standard input through a pipe.
ProgramRun RunVelinor(const std::string& arguments, const std::string& configDir = "",
                      const std::string& workDir = "", const std::string& launcher = "",
                      const std::string& input = "");

