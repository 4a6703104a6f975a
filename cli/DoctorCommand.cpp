#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/PortChoice.h"
#include "cli/SessionRunner.h"
#include "cli/StopRequest.h"
#include "comm/KPortCheckup.h"
#include "comm/KPortRegistry.h"
#include "comm/KNetworkComm.h"
#include "comm/KPrintableText.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"
#include "session/KReceiverIdentifier.h"

namespace {

struct DoctorResult {
    std::vector<KPortFinding> findings;
    int problems = 0;
    bool stopped = false;
};

void Add(std::vector<KPortFinding>& to, const std::vector<KPortFinding>& findings) {
    to.insert(to.end(), findings.begin(), findings.end());
}

KPortFinding PortsPresent() {
    KPortRegistry& registry = KPortRegistry::Instance();
    std::string list;
    for (int32_t i = 0; i < KPortRegistry::kPortCount; ++i) {
        if (!registry.IsPresent(i)) continue;
        const KPortInfo info = registry.Info(i);
        list += (list.empty() ? "" : ", ") + std::string("COM") + std::to_string(i + 1) + " " + info.device;
        if (!info.adapter.Empty()) list += " (" + info.adapter.Describe() + ")";
    }
    for (const KPortInfo& info : registry.Unslotted()) list += (list.empty() ? "" : ", ") + info.device;
    if (list.empty())
        return {KPortFinding::Note, "ports", "no serial ports found",
                "plug the adapter in; a USB adapter that still does not show may need its driver"};
    return {KPortFinding::Ok, "ports", "ports present: " + list, ""};
}

// The last step: listening at every rate, as identify does, without a byte sent.
KPortFinding Line(const PortChoice& port) {
    KeepOpenFailures();
    KReceiverIdentifier identifier([&port] { return CreatePortLink(port.devicePath); },
                                   CreateCatalogueReceiver);
    KReceiverIdentifier::Options options;
    options.ask = false;
    options.stopWanted = StopRequest::Requested;
    const KReceiverIdentifier::Result result = identifier.Run(port.portNumber, port.devicePath, options);
    if (result.portFailed)
        return {KPortFinding::Problem, "open", OpenFailureText(LastOpenFailure()), LastOpenFailure().remedy};
    if (result.found)
        return {KPortFinding::Ok, "line",
                std::string(result.family->name) + " receiver (protocol " + result.family->protocol.name + ") talks " +
                    (result.rateFixed ? std::string("at the server's rate") : "at " + std::to_string(result.baud) + " baud") +
                    ": " + std::to_string(result.messages) + " checked messages heard",
                ""};
    uint64_t bytes = 0;
    int32_t busiest = 0;
    uint64_t most = 0;
    for (const auto& heard : result.heard) {
        bytes += heard.bytes;
        if (heard.bytes > most) {
            most = heard.bytes;
            busiest = heard.baud;
        }
    }
    const std::string identify = "'velinor identify --port " + port.display + "'";
    if (bytes == 0)
        return {KPortFinding::Problem, "line", "nothing arrives on the line at any rate",
                "a receiver whose output is stopped says nothing until asked: " + identify +
                    " also asks each family. Otherwise check that the receiver is on, that the cable goes to the "
                    "receiver's port, and whether it needs a null-modem cable or adapter"};
    return {KPortFinding::Problem, "line",
            std::to_string(bytes) + " bytes arrived" +
                (result.rateFixed ? std::string() : " (most at " + std::to_string(busiest) + " baud)") +
                " but no receiver protocol was recognised in them",
            "the receiver may send plain NMEA only, or something other than its own protocol: " + identify +
                " also asks each family"};
}

const char* StatusWord(KPortFinding::Status status) {
    switch (status) {
    case KPortFinding::Ok: return "ok";
    case KPortFinding::Note: return "note";
    default: return "problem";
    }
}

void PrintText(const std::string& subject, const std::vector<KPortFinding>& findings, int problems) {
    std::printf("velinor doctor: %s\n", PrintableText(subject).c_str());
    for (const KPortFinding& f : findings) {
        const char* tag = f.status == KPortFinding::Ok ? "[ ok ]" : f.status == KPortFinding::Note ? "[note]" : "[FAIL]";
        std::printf("%s %s: %s\n", tag, f.check.c_str(), PrintableText(f.message).c_str());
        if (!f.remedy.empty()) std::printf("       -> %s\n", PrintableText(f.remedy).c_str());
    }
    if (problems == 0)
        std::printf("Nothing found in the way.\n");
    else
        std::printf("%d problem%s found.\n", problems, problems == 1 ? "" : "s");
}

void PrintDocument(const std::string& port, const std::vector<KPortFinding>& findings, int problems) {
    JsonValue list = JsonValue::array();
    for (const KPortFinding& f : findings)
        list.push_back({{"check", f.check},
                        {"status", StatusWord(f.status)},
                        {"message", f.message},
                        {"remedy", JsonTextOrNull(f.remedy)}});
    JsonValue document = {{"port", JsonTextOrNull(port)}, {"problems", problems}, {"findings", list}};
    PrintJson(document);
}

std::vector<KPortFinding> CheckEveryPort() {
    KPortRegistry& registry = KPortRegistry::Instance();
    std::vector<KPortFinding> findings = {PortsPresent()};
    for (int32_t i = 0; i < KPortRegistry::kPortCount; ++i)
        if (registry.IsPresent(i)) Add(findings, KPortCheckup::CheckDevice(registry.DevicePath(i), registry.Info(i)));
    Add(findings, KPortCheckup::CheckSystem());
    return findings;
}

// The port's own checks, then the system's, then (when nothing blocks the port) the line's.
std::vector<KPortFinding> CheckPort(const std::string& name, bool quiet) {
    KPortRegistry& registry = KPortRegistry::Instance();
    PortChoice port;
    std::string error;
    if (!ChoosePort(name, port, error)) return {{KPortFinding::Problem, "device", error, ""}, PortsPresent()};
    const std::string device = port.devicePath.empty() ? registry.DevicePath(port.portNumber) : port.devicePath;
    const int32_t slot = port.devicePath.empty() ? port.portNumber : registry.FindPort(device);
    // A terminal server's port: its own checks; this machine's devices and daemons are not in the way.
    const bool network = IsNetworkPortName(device);
    std::vector<KPortFinding> findings =
        network ? CheckNetworkPort(device) : KPortCheckup::CheckDevice(device, slot >= 0 ? registry.Info(slot) : KPortInfo{});
    const bool blocked = std::any_of(findings.begin(), findings.end(),
                                     [](const KPortFinding& f) { return f.status == KPortFinding::Problem; });
    if (!network && !findings.empty() && findings.front().status == KPortFinding::Problem)
        findings.push_back(PortsPresent());
    if (!network) Add(findings, KPortCheckup::CheckSystem());
    if (!blocked) {
        StopRequest::Catch();
        if (!quiet)
            std::fprintf(stderr, "velinor doctor: listening on %s%s...\n", PrintableText(port.display).c_str(),
                         IsFixedRatePort(device) ? " at the server's rate" : " at every rate");
        findings.push_back(Line(port));
    }
    return findings;
}

DoctorResult Examine(const DoctorOptions& options) {
    DoctorResult result;
    result.findings = options.port.empty() ? CheckEveryPort() : CheckPort(options.port, options.json);
    // Stopped while listening: its port is closed, and half a report is none.
    result.stopped = StopRequest::Requested();
    for (const KPortFinding& f : result.findings) result.problems += f.status == KPortFinding::Problem;
    return result;
}

} // namespace

Parsed<DoctorOptions> ParseDoctor(const Words& words) {
    const ParsedWords read = DoctorCommandLine().Parse(words);
    Parsed<DoctorOptions> parsed{{}, read.help, read.error};
    if (!read.Positionals().empty()) parsed.options.port = read.Positionals().front();
    parsed.options.json = read.Flag("--json");
    return parsed;
}


CommandLine DoctorCommandLine() {
    return CommandLine("doctor")
        .Synopsis("velinor doctor [--json] [PORT]")
        .About("One report of what stands between you and the receiver, each finding with its remedy: the\n"
               "device exists (and which ports do), you may read and write it (the group that owns it and\n"
               "the command that adds you to it), no other program holds it open or locked, the USB adapter\n"
               "behind it and the stable name to use, programs that probe new serial devices (a modem\n"
               "manager), and finally whether anything talks on the line at any rate: it listens as\n"
               "'velinor identify' does, never sending a byte (up to 25 s). Without PORT it checks every\n"
               "port present without listening.\n")
        .Flag("--json", "print one JSON document (see docs/json.md) instead of text")
        .Positionals(1)
        .Footer("Exit codes: 0 nothing in the way, 1 a problem was found, 2 usage error, 130 Ctrl-C, 143\n"
                "terminated.\n");
}

int RunDoctor(const Words& words) {
    const Parsed<DoctorOptions> parsed = ParseDoctor(words);
    if (const auto ending = ParseEnding(DoctorCommandLine(), parsed)) return *ending;
    const DoctorResult result = Examine(parsed.options);
    if (result.stopped) {
        if (!parsed.options.json) std::fprintf(stderr, "velinor doctor: %s\n", StopRequest::Word());
        return StopRequest::ExitCode();
    }
    if (parsed.options.json)
        PrintDocument(parsed.options.port, result.findings, result.problems);
    else
        PrintText(parsed.options.port.empty() ? "every port present" : parsed.options.port, result.findings,
                  result.problems);
    return result.problems == 0 ? kExitConfirmed : kExitNotConfirmed;
}
