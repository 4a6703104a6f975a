#include "support/ProgramRun.h"

#include "support/TempDir.h"

#ifndef _WIN32
#include <sys/wait.h>

#include <cstdlib>

ProgramRun RunVelinor(const std::string& arguments, const std::string& configDir, const std::string& workDir,
                      const std::string& launcher, const std::string& input) {
    TempDir scratch("velinor-run");
    const std::string out = scratch.File("stdout"), err = scratch.File("stderr");
    const std::string config = configDir.empty() ? scratch.Path() : configDir;
    const std::string dir = workDir.empty() ? scratch.Path() : workDir;
    const std::string command = "cd '" + dir + "' && " + (input.empty() ? "" : "cat '" + input + "' | ") +
                                "XDG_CONFIG_HOME='" + config + "' " + launcher + " '" VELINOR_PROGRAM "' " + arguments +
                                " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(out), ReadWholeFile(err)};
}
#else
ProgramRun RunVelinor(const std::string&, const std::string&, const std::string&, const std::string&,
                      const std::string&) {
    return {};
}
#endif
