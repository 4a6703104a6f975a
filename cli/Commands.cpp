#include "cli/Commands.h"

const std::vector<CommandEntry>& CommandTable() {
    static const std::vector<CommandEntry> table = {
        {"set", "find the receiver's rate, switch it to the wanted rate and monitor it", SetCommandLine, RunSet},
        {"demo", "a session against a simulated receiver at a random rate", DemoCommandLine, RunDemo},
        {"sim", "expose a simulated receiver on a pseudo-terminal", SimCommandLine, RunSim},
        {"receivers", "list the receiver types", ReceiversCommandLine, RunReceivers},
        {"ports", "list the serial ports found", PortsCommandLine, RunPorts},
        {"frame", "frame a recorded receiver stream and print its messages", FrameCommandLine, RunFrame},
        {"scan", "the first and last GPS time of a recorded receiver stream", ScanCommandLine, RunScan},
        {"time", "ask the receiver its GPS time and compare it with this computer's clock", TimeCommandLine, RunTime},
        {"identify", "find which protocol and rate the device on a port speaks", IdentifyCommandLine, RunIdentify},
        {"doctor", "what stands between you and the receiver on a port, with remedies", DoctorCommandLine, RunDoctor},
        {"watch", "show the protocols and messages the device on a port sends, live", WatchCommandLine, RunWatch},
        {"fleet", "bring every receiver listed in a file to its rate, all at once", FleetCommandLine, RunFleet},
    };
    return table;
}
