#include "support/ChildProgram.h"
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/ProgramRun.h"

extern char** environ;

ChildProgram::ChildProgram(const std::vector<std::string>& arguments, const std::string& configDir)
    : ChildProgram(VELINOR_PROGRAM, arguments, configDir) {}

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& configDir) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    std::vector<std::string> variables{"XDG_CONFIG_HOME=" + configDir};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("XDG_CONFIG_HOME=", 0) != 0) variables.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, scratch.File("stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, scratch.File("stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProgram::~ChildProgram() {
    Kill();
}

std::string ChildProgram::FirstLine(int32_t boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (Running()) {
        const std::string out = ReadWholeFile(scratch.File("stdout"));
        const size_t end = out.find('\n');
        if (end != std::string::npos) return out.substr(0, end);
        if (std::chrono::steady_clock::now() >= deadline || Wait(0)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

bool ChildProgram::WaitForError(const std::string& text, int32_t boundMs) {
    return WaitForText("stderr", text, boundMs);
}

bool ChildProgram::WaitForOutput(const std::string& text, int32_t boundMs) {
    return WaitForText("stdout", text, boundMs);
}

bool ChildProgram::WaitForText(const std::string& file, const std::string& text, int32_t boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        // Asked before reading, so that what it wrote before it ended is read.
        const bool ended = !Running() || Wait(0).has_value();
        if (ReadWholeFile(scratch.File(file)).find(text) != std::string::npos) return true;
        if (ended || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::optional<int> ChildProgram::Wait(int32_t boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (pid > 0 && !exitCode) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || ended < 0) {
            exitCode = ended == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (ended == pid && WIFSIGNALED(status)) endingSignal = WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exitCode;
}

std::optional<int> ChildProgram::Interrupt(int32_t boundMs) {
    return Signal(SIGINT, boundMs);
}

std::optional<int> ChildProgram::Signal(int signal, int32_t boundMs) {
    if (Running()) kill(pid, signal);
    return Wait(boundMs);
}

std::string ChildProgram::Output() const {
    return StandardOutput() + ErrorOutput();
}

std::string ChildProgram::StandardOutput() const {
    return ReadWholeFile(scratch.File("stdout"));
}

std::string ChildProgram::ErrorOutput() const {
    return ReadWholeFile(scratch.File("stderr"));
}

void ChildProgram::Kill() {
    if (!Running()) return;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    exitCode = -1;
}
#endif
