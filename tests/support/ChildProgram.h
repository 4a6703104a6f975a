#pragma once
#ifndef _WIN32
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

// The velinor program run in the background, its outputs in files of its own, so that a test can
// run several at once, watch one that should end and stop one that runs until interrupted. The
// child is killed and reaped when the object goes: no test leaves one behind.
class ChildProgram {
public:
    // Starts `velinor ARGUMENTS...` with its settings under `configDir`; Running() says whether
    // it could be started.
    ChildProgram(const std::vector<std::string>& arguments, const std::string& configDir);
    // Starts another program (a server a test talks through) the same way: `program` by its path.
    ChildProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& configDir);
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool Running() const { return pid > 0 && !exitCode; }
    // The first line of standard output, once written; empty when none came within `boundMs` or
    // the child ended first.
    std::string FirstLine(int32_t boundMs);
    // Waits at most `boundMs` until the child's standard error holds `text`; false when it did
    // not come (or the child ended without it).
    bool WaitForError(const std::string& text, int32_t boundMs);
    // The same for standard output.
    bool WaitForOutput(const std::string& text, int32_t boundMs);
    // Waits at most `boundMs` for the child to end: its exit code (-1 for a signal), or nothing
    // when it is still running.
    std::optional<int> Wait(int32_t boundMs);
    // Asks the child to end as Ctrl-C would, and waits at most `boundMs` for it.
    std::optional<int> Interrupt(int32_t boundMs);
    // Sends `signal` (SIGTERM, say), and waits at most `boundMs` for the child to end.
    std::optional<int> Signal(int signal, int32_t boundMs);
    // The signal that ended the child (0: it exited, or has not ended).
    int EndingSignal() const { return endingSignal; }
    // Both outputs, standard output first.
    std::string Output() const;
    std::string StandardOutput() const;
    std::string ErrorOutput() const;

private:
    void Kill();
    bool WaitForText(const std::string& file, const std::string& text, int32_t boundMs);

    TempDir scratch{"velinor-child"};
    pid_t pid = -1;
    std::optional<int> exitCode;
    int endingSignal = 0;
};
#endif
