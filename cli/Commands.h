#pragma once
#include <string>
#include <vector>

#include "cli/CommandLine.h"

// Exit codes of the command line.
enum ExitCode : int {
    kExitConfirmed = 0,     // done; for `set`, the receiver answers at the wanted rate
    kExitNotConfirmed = 1,  // the session ended before the receiver was confirmed
    kExitUsage = 2,         // the command line was wrong
    kExitPortError = 3,     // the port could not be opened, or no such port / file
};

using Words = std::vector<std::string>;

int RunFrame(const Words& args);
int RunSet(const Words& args);
int RunReceivers(const Words& args);
int RunPorts(const Words& args);
int RunSim(const Words& args);
int RunDemo(const Words& args);
int RunScan(const Words& args);
int RunTime(const Words& args);
int RunIdentify(const Words& args);
int RunDoctor(const Words& args);
int RunWatch(const Words& args);
int RunFleet(const Words& args);

// Each command's options and help, defined once (the parse steps read them too).
CommandLine FrameCommandLine();
CommandLine SetCommandLine();
CommandLine ReceiversCommandLine();
CommandLine PortsCommandLine();
CommandLine SimCommandLine();
CommandLine DemoCommandLine();
CommandLine ScanCommandLine();
CommandLine TimeCommandLine();
CommandLine IdentifyCommandLine();
CommandLine DoctorCommandLine();
CommandLine WatchCommandLine();
CommandLine FleetCommandLine();

// The commands in the order `velinor --help` lists them.
struct CommandEntry {
    const char* name;
    const char* summary;
    CommandLine (*line)();
    int (*run)(const Words& args);
};
const std::vector<CommandEntry>& CommandTable();
