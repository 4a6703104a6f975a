#pragma once
#ifndef _WIN32
#include <sys/types.h>

#include <functional>
#include <string>

// A child process that does something to a device (opens it, takes its lock...) and then waits
// until the test ends it: killed and reaped when the object goes, so no test leaves one behind.
class HolderProcess {
public:
    // Runs `setUp` in a child named `name` (as the process table shows it), then waits for its
    // end; Said() waits for what `setUp` returned.
    HolderProcess(const std::string& name, const std::function<std::string()>& setUp);
    ~HolderProcess();
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    pid_t Pid() const { return pid; }
    const std::string& Said();

    // The pid of a process that has ended (and was reaped): no process has it now.
    static pid_t DeadPid();

private:
    pid_t pid = -1;
    int report = -1;
    std::string said;
};

// A UUCP lock file's content for `pid`: "%10d\n".
std::string LockText(int pid);
#endif
