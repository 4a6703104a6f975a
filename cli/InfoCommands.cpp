#include <cstdio>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "comm/KPortRegistry.h"
#include "receivers/KReceiver.h"
#include "receivers/KReceiverCatalogue.h"
#include "receivers/KReceiverFamily.h"

int RunReceivers(const Words& words) {
    const CliArgs args(words, {}, {"--help"});
    if (!args.Ok() || !args.Positionals().empty()) {
        std::fprintf(stderr, "velinor receivers: %s\n", args.Ok() ? "takes no arguments" : args.Error().c_str());
        return kExitUsage;
    }
    if (args.Flag("--help")) {
        std::puts("usage: velinor receivers\n\nLists the receiver types by id, name and family (the protocol it speaks).\n"
                  "Either the id or the name (or an unambiguous part of it) is accepted by --receiver.");
        return kExitConfirmed;
    }
    for (const ReceiverCatalogueRow& row : ReceiverCatalogue) {
        if (row.displayName[0] == '\0') break;
        const KReceiverFamily* family = FamilyOfType(row.typeId);
        std::printf("%3d  %-20s  %s\n", row.typeId, row.displayName, family ? family->name : "(not supported yet)");
    }
    return kExitConfirmed;
}

int RunPorts(const Words& words) {
    const CliArgs args(words, {}, {"--help"});
    if (!args.Ok() || !args.Positionals().empty()) {
        std::fprintf(stderr, "velinor ports: %s\n", args.Ok() ? "takes no arguments" : args.Error().c_str());
        return kExitUsage;
    }
    if (args.Flag("--help")) {
        std::puts("usage: velinor ports\n\nLists the serial ports found, as COM1..COM24 with their devices.\n"
                  "--port accepts the COM name, the device or the listed name; any other device path\n"
                  "(a pseudo-terminal, say) can be named directly.");
        return kExitConfirmed;
    }
    KPortRegistry& registry = KPortRegistry::Instance();
    int shown = 0;
    for (int32_t i = 0; i < KPortRegistry::kPortCount; ++i) {
        if (!registry.IsPresent(i)) continue;
        const std::string device = registry.DevicePath(i);
        const std::string label = registry.Label(i);
        std::printf("COM%-3d %s%s%s\n", i + 1, device.c_str(), label != device ? "  " : "",
                    label != device ? label.c_str() : "");
        ++shown;
    }
    if (shown == 0) std::puts("no serial ports found");
    return kExitConfirmed;
}
