#ifndef _WIN32
#include "support/HolderProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

HolderProcess::HolderProcess(const std::string& name, const std::function<std::string()>& setUp) {
    int ends[2];
    if (::pipe(ends) != 0) throw std::runtime_error("no pipe");
    pid = ::fork();
    if (pid < 0) throw std::runtime_error("no fork");
    if (pid == 0) {
        ::close(ends[0]);
        ::prctl(PR_SET_NAME, name.c_str());
        const std::string text = setUp() + "\n";
        if (::write(ends[1], text.data(), text.size()) < 0) ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ends[1]);
    report = ends[0];
}

const std::string& HolderProcess::Said() {
    if (report >= 0) {
        char c = 0;
        while (::read(report, &c, 1) == 1 && c != '\n')
            said += c;
        ::close(report);
        report = -1;
    }
    return said;
}

HolderProcess::~HolderProcess() {
    if (report >= 0) ::close(report);
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

std::string LockText(int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

pid_t HolderProcess::DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}
#endif
