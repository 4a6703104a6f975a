#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "comm/KPortRegistry.h"
#include "comm/KPrintableText.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"

namespace {

Parsed<ListOptions> ParseList(const CommandLine& line, const Words& words) {
    const ParsedWords read = line.Parse(words);
    return {{read.Flag("--json")}, read.help, read.error};
}

} // namespace

Parsed<ListOptions> ParseReceivers(const Words& words) { return ParseList(ReceiversCommandLine(), words); }
Parsed<ListOptions> ParsePorts(const Words& words) { return ParseList(PortsCommandLine(), words); }

CommandLine ReceiversCommandLine() {
    return CommandLine("receivers")
        .Synopsis("velinor receivers [--json]")
        .About("Lists the receiver types by id, name and family (the protocol it speaks). Either the id or\n"
               "the name (or an unambiguous part of it) is accepted by --receiver.\n")
        .Flag("--json", "print them as one JSON document (see docs/json.md), with each type's framing protocol "
                        "and whether `velinor time` and `velinor scan` serve it");
}

int RunReceivers(const Words& words) {
    const Parsed<ListOptions> parsed = ParseReceivers(words);
    if (const auto ending = ParseEnding(ReceiversCommandLine(), parsed)) return *ending;
    if (parsed.options.json) {
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

CommandLine PortsCommandLine() {
    return CommandLine("ports")
        .Synopsis("velinor ports [--json]")
        .About("Lists the serial ports found, as COM1..COM24 with their devices, the adapter's stable name\n"
               "where it has one, and below it the maker, model, serial number, USB id and driver as the\n"
               "system reports them. --port accepts the COM name, the device or the stable name; any other\n"
               "device path (a pseudo-terminal, or a port past COM24) can be named directly. 'velinor set'\n"
               "finds the port last used again by its stable name, whatever COM number it has now.\n")
        .Flag("--json", "print them as one JSON document (see docs/json.md), the ports past COM24 with a null slot");
}

namespace {

// What the registry holds: the slotted ports by their COM names, then the others.
struct PortList {
    std::vector<std::pair<std::string, KPortInfo>> slotted;
    std::vector<KPortInfo> unslotted;
};

PortList ListPorts() {
    KPortRegistry& registry = KPortRegistry::Instance();
    PortList list;
    for (int32_t i = 0; i < KPortRegistry::kPortCount; ++i)
        if (registry.IsPresent(i)) list.slotted.emplace_back("COM" + std::to_string(i + 1), registry.Info(i));
    list.unslotted = registry.Unslotted();
    return list;
}

void PrintPorts(const PortList& list, bool json) {
    if (json) {
        JsonValue ports = JsonValue::array();
        for (const auto& [slot, info] : list.slotted) ports.push_back(JsonPort(slot, info));
        for (const KPortInfo& info : list.unslotted) ports.push_back(JsonPort("", info));
        PrintJson({{"ports", ports}});
        return;
    }
    for (const auto& [slot, info] : list.slotted) PrintPort(slot, info);
    for (const KPortInfo& info : list.unslotted) PrintPort("-", info);
    const size_t past = list.unslotted.size();
    if (past != 0) {
        std::printf("%zu port%s past COM%d (marked -) ha%s no COM number: name one by its path, as in --port %s\n", past,
                    past == 1 ? "" : "s", KPortRegistry::kPortCount, past == 1 ? "s" : "ve",
                    PrintableText(list.unslotted.front().device).c_str());
    }
    if (list.slotted.empty() && past == 0) std::puts("no serial ports found");
}

} // namespace

int RunPorts(const Words& words) {
    const Parsed<ListOptions> parsed = ParsePorts(words);
    if (const auto ending = ParseEnding(PortsCommandLine(), parsed)) return *ending;
    PrintPorts(ListPorts(), parsed.options.json);
    return kExitConfirmed;
}
