#include <cstdio>
#include <cstring>
#include <string>

#include "VelinorVersion.h"
#include "cli/Commands.h"
#include "comm/KPrintableText.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "velinor - get a GNSS receiver on a serial cable to the baud rate you want\n"
        "\n"
        "usage: velinor COMMAND [options]\n"
        "\n"
        "commands:\n"
        "  set        find the receiver's rate, switch it to the wanted rate and monitor it\n"
        "  demo       a session against a simulated receiver at a random rate\n"
        "  sim        expose a simulated receiver on a pseudo-terminal\n"
        "  receivers  list the receiver types\n"
        "  ports      list the serial ports found\n"
        "  frame      frame a recorded receiver stream and print its messages\n"
        "  scan       the first and last GPS time of a recorded receiver stream\n"
        "  time       ask the receiver its GPS time and compare it with this computer's clock\n"
        "  identify   find which protocol and rate the device on a port speaks\n"
        "  doctor     what stands between you and the receiver on a port, with remedies\n"
        "  watch      show the protocols and messages the device on a port sends, live\n"
        "  fleet      bring every receiver listed in a file to its rate, all at once\n"
        "\n"
        "Only use this tool when connected directly to the receiver via serial cable: used\n"
        "through a modem or similar device it will lose communication with the receiver.\n"
        "\n"
        "'velinor COMMAND --help' describes each command. Exit codes: 0 confirmed / done,\n"
        "1 not confirmed, 2 usage error, 3 port or file error. receivers, ports, scan and time\n"
        "take --json for one JSON document on standard output (docs/json.md).\n",
        out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const Words args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        return kExitConfirmed;
    }
    if (command == "--version") {
        std::puts("velinor " VELINOR_VERSION_TEXT);
        return kExitConfirmed;
    }
    if (command == "set") return RunSet(args);
    if (command == "demo") return RunDemo(args);
    if (command == "sim") return RunSim(args);
    if (command == "receivers") return RunReceivers(args);
    if (command == "ports") return RunPorts(args);
    if (command == "frame") return RunFrame(args);
    if (command == "scan") return RunScan(args);
    if (command == "time") return RunTime(args);
    if (command == "identify") return RunIdentify(args);
    if (command == "doctor") return RunDoctor(args);
    if (command == "watch") return RunWatch(args);
    if (command == "fleet") return RunFleet(args);
    std::fprintf(stderr, "velinor: unknown command '%s'\n\n", PrintableText(command).c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
