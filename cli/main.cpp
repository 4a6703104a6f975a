#include <cstdio>
#include <cstring>
#include <string>

#include "VelinorVersion.h"
#include "cli/Commands.h"
#include "comm/KPrintableText.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs("velinor - get a GNSS receiver on a serial cable to the baud rate you want\n"
               "\n"
               "usage: velinor COMMAND [options]\n"
               "\n"
               "commands:\n",
               out);
    for (const CommandEntry& command : CommandTable()) std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    std::fputs("\n"
               "Only use this tool when connected directly to the receiver via serial cable: used\n"
               "through a modem or similar device it will lose communication with the receiver.\n"
               "\n"
               "'velinor COMMAND --help' describes each command. Exit codes: 0 confirmed / done,\n"
               "1 not confirmed, 2 usage error, 3 port or file error. --json makes a command print\n"
               "one JSON document on standard output (docs/json.md).\n",
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
    for (const CommandEntry& entry : CommandTable())
        if (command == entry.name) return entry.run(args);
    std::fprintf(stderr, "velinor: unknown command '%s'\n\n", PrintableText(command).c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
