#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "comm/KPortRegistry.h"
#include "comm/KPrintableText.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"

int RunReceivers(const Words& words) {
    const CliArgs args(words, {}, {"--help", "--json"});
    if (!args.Ok() || !args.Positionals().empty()) {
        std::fprintf(stderr, "velinor receivers: %s\n", args.Ok() ? "takes no arguments" : args.Error().c_str());
        return kExitUsage;
    }
    if (args.Flag("--help")) {
        std::puts("usage: velinor receivers [--json]\n\nLists the receiver types by id, name and family (the protocol it speaks).\n"
                  "Either the id or the name (or an unambiguous part of it) is accepted by --receiver.\n"
                  "--json prints them as one JSON document (see docs/json.md), with each type's framing\n"
                  "protocol and whether `velinor time` and `velinor scan` serve it.");
        return kExitConfirmed;
    }
    if (args.Flag("--json")) {
        JsonValue types = JsonValue::array();
        for (const KCatalogueType* type : CatalogueTypes()) types.push_back(JsonReceiverType(type->typeId));
        PrintJson({{"receivers", types}});
        return kExitConfirmed;
    }
    for (const KCatalogueType* type : CatalogueTypes())
        std::printf("%3d  %-20s  %s\n", type->typeId, type->displayName, FamilyOfType(type->typeId)->name);
    return kExitConfirmed;
}

namespace {

// One port: slot, device and stable name on its line, the hardware as reported below it.
void PrintPort(const std::string& slot, const KPortInfo& info) {
    std::printf("%-6s %s%s%s\n", slot.c_str(), PrintableText(info.device).c_str(), info.stableName.empty() ? "" : "  ",
                PrintableText(info.stableName).c_str());
    if (!info.adapter.Empty()) std::printf("       %s\n", PrintableText(info.adapter.Describe()).c_str());
}

} // namespace

int RunPorts(const Words& words) {
    const CliArgs args(words, {}, {"--help", "--json"});
    if (!args.Ok() || !args.Positionals().empty()) {
        std::fprintf(stderr, "velinor ports: %s\n", args.Ok() ? "takes no arguments" : args.Error().c_str());
        return kExitUsage;
    }
    if (args.Flag("--help")) {
        std::puts("usage: velinor ports [--json]\n\nLists the serial ports found, as COM1..COM24 with their devices, the\n"
                  "adapter's stable name where it has one, and below it the maker, model, serial number, USB\n"
                  "id and driver as the system reports them.\n"
                  "--port accepts the COM name, the device or the stable name; any other device path\n"
                  "(a pseudo-terminal, or a port past COM24) can be named directly. 'velinor set' finds\n"
                  "the port last used again by its stable name, whatever COM number it has now.\n"
                  "--json prints them as one JSON document (see docs/json.md), the ports past COM24\n"
                  "with a null slot.");
        return kExitConfirmed;
    }
    KPortRegistry& registry = KPortRegistry::Instance();
    if (args.Flag("--json")) {
        JsonValue ports = JsonValue::array();
        for (int32_t i = 0; i < KPortRegistry::kPortCount; ++i)
            if (registry.IsPresent(i)) ports.push_back(JsonPort("COM" + std::to_string(i + 1), registry.Info(i)));
        for (const KPortInfo& info : registry.Unslotted()) ports.push_back(JsonPort("", info));
        PrintJson({{"ports", ports}});
        return kExitConfirmed;
    }
    int shown = 0;
    for (int32_t i = 0; i < KPortRegistry::kPortCount; ++i) {
        if (!registry.IsPresent(i)) continue;
        PrintPort("COM" + std::to_string(i + 1), registry.Info(i));
        ++shown;
    }
    const std::vector<KPortInfo>& unslotted = registry.Unslotted();
    for (const KPortInfo& info : unslotted) PrintPort("-", info);
    if (!unslotted.empty()) {
        std::printf("%zu port%s past COM%d (marked -) ha%s no COM number: name one by its path, as in --port %s\n",
                    unslotted.size(), unslotted.size() == 1 ? "" : "s", KPortRegistry::kPortCount,
                    unslotted.size() == 1 ? "s" : "ve", PrintableText(unslotted.front().device).c_str());
    }
    if (shown == 0 && unslotted.empty()) std::puts("no serial ports found");
    return kExitConfirmed;
}
