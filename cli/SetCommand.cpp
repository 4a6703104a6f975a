#include <cstdio>
#include <optional>
#include <string>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/OutputNote.h"
#include "cli/PortChoice.h"
#include "cli/ReceiverChoice.h"
#include "cli/RecordingInput.h"
#include "cli/RememberedChoices.h"
#include "cli/SessionRunner.h"
#include "cli/StatusLine.h"
#include "comm/KBaudRates.h"
#include "comm/KConsole.h"
#include "comm/KNetworkComm.h"
#include "comm/KPrintableText.h"
#include "families/KReceiverFamily.h"
#include "log/Logs.h"
#include "receivers/KReceiver.h"

namespace {

// What a `set` run needs that is not in its options: the choices remembered from the last run.
struct SetContext {
    std::string settingsPath;
    RememberedChoices remembered;
};

// A session plan from the options, the remembered choices filling in what they leave out; the
// exit code and message when they do not make one.
struct SetPlan {
    SessionPlan session;
    int exitCode = kExitConfirmed;
    std::string error;
};

bool Refuse(SetPlan& plan, int exitCode, std::string error) {
    plan.exitCode = exitCode;
    plan.error = std::move(error);
    return false;
}

bool ChooseType(const SetOptions& options, const RememberedChoices& remembered, SetPlan& plan) {
    SessionPlan& session = plan.session;
    if (options.receiverType == 0 && !remembered.found)
        return Refuse(plan, kExitUsage, "--receiver is needed (no receiver used before)");
    session.receiverType = options.receiverType ? options.receiverType : remembered.receiverType;
    if (!CreateReceiver(session.receiverType)) {
        const KCatalogueType* row = FindCatalogueType(session.receiverType);
        return Refuse(plan, kExitUsage, std::string("receiver type \"") + (row ? row->displayName : "?") +
                                            "\" is not supported by this build yet");
    }
    if (options.restoreOutput)
        if (std::string refusal = RestoreOutputRefusal(*FamilyOfType(session.receiverType)); !refusal.empty())
            return Refuse(plan, kExitUsage, std::move(refusal));
    return true;
}

bool ChooseRates(const SetOptions& options, const RememberedChoices& remembered, SetPlan& plan) {
    SessionPlan& session = plan.session;
    const int32_t type = session.receiverType;
    const bool rememberedFits = remembered.found && TypeTakesRate(type, remembered.baud);
    if (options.baud && !TypeTakesRate(type, *options.baud))
        return Refuse(plan, kExitUsage, "--baud must be one of " + TypeRatesText(type));
    if (!options.baud && !rememberedFits) return Refuse(plan, kExitUsage, "--baud is needed");
    session.targetBaud = static_cast<int32_t>(options.baud ? *options.baud : remembered.baud);
    // The rate last set is where the first detection pass starts.
    const long long lastBaud = options.lastBaud ? *options.lastBaud : rememberedFits ? remembered.baud : 0;
    if (lastBaud != 0 && !TypeTakesRate(type, lastBaud))
        return Refuse(plan, kExitUsage, "--last-baud must be 0 (unknown) or one of " + TypeRatesText(type));
    session.lastKnownBaud = static_cast<int32_t>(lastBaud);
    return true;
}

bool ChooseSetPort(const SetOptions& options, const RememberedChoices& remembered, SetPlan& plan) {
    if (options.port.empty() && !remembered.found) return Refuse(plan, kExitUsage, "--port is needed (see 'velinor ports')");
    std::string error;
    const bool chosen = !options.port.empty()
                            ? ChoosePort(options.port, plan.session.port, error)
                            : ChooseRememberedPort(remembered.portNumber, remembered.portIdentity, remembered.device,
                                                   plan.session.port, error);
    if (!chosen) return Refuse(plan, kExitPortError, error);
    if (IsFixedRatePort(plan.session.port.devicePath))
        return Refuse(plan, kExitUsage,
                      plan.session.port.devicePath + " is a raw TCP port: its rate is fixed at the server and cannot be "
                      "set from here. Name the port as rfc2217://HOST:PORT on a server that speaks RFC 2217 (ser2net: "
                      "an accepter of telnet(rfc2217))");
    return true;
}

SetPlan PlanSet(const SetOptions& options, const RememberedChoices& remembered) {
    SetPlan plan;
    if (!ChooseType(options, remembered, plan) || !ChooseRates(options, remembered, plan) ||
        !ChooseSetPort(options, remembered, plan))
        return plan;
    plan.session.untilConfirmed = options.untilConfirmed;
    plan.session.saveRate = options.save;
    plan.session.timeoutSeconds = options.timeout ? static_cast<double>(*options.timeout) : 0;
    if (options.streamErrors) {
        if (std::string refusal = StreamErrorLogRefusal("Trevask"); !refusal.empty())
            Refuse(plan, kExitPortError, std::move(refusal));
    }
    return plan;
}

// Remembered once the port has opened, whatever the outcome then: the choices are what was
// asked for, but a port that never opened is no default for the next run.
void Remember(SetContext& context, const SessionPlan& plan) {
    RememberedChoices& remembered = context.remembered;
    remembered.receiverType = plan.receiverType;
    remembered.portNumber = plan.port.portNumber;
    remembered.device = plan.port.devicePath;
    remembered.portIdentity = plan.port.identity;
    remembered.baud = plan.targetBaud;
    std::string problem;
    if (!remembered.Save(context.settingsPath, &problem) && !problem.empty())
        std::fprintf(stderr, "velinor set: these choices are not remembered: %s\n", PrintableText(problem).c_str());
}

SetContext LoadContext() {
    SetContext context;
    context.settingsPath = KConsole::SettingsFilePath();
    std::string problem;
    context.remembered = RememberedChoices::Load(context.settingsPath, &problem);
    if (!problem.empty())
        std::fprintf(stderr, "velinor set: %s: the last choices are not known\n", PrintableText(problem).c_str());
    return context;
}

int RunSetSession(SessionPlan& plan, SetContext& context, bool restoreOutput) {
    bool portOpened = false;
    plan.onPortOpened = [&] {
        portOpened = true;
        Remember(context, plan);
    };
    const KCatalogueType* row = FindCatalogueType(plan.receiverType);
    std::printf("%s on %s, wanted rate %d baud\n", row ? row->displayName : "?", PrintableText(plan.port.display).c_str(),
                plan.targetBaud);
    std::fflush(stdout);
    StatusLine status(stdout, KConsole::IsTerminal(stdout), KConsole::EnableColours(stdout));
    const int exitCode = PrintSessionEnding(RunSessionPlan(plan, status), plan, status);
    if (portOpened) std::printf("%s\n", OutputNote(*FamilyOfType(plan.receiverType), restoreOutput).c_str());
    if (const std::string lost = StreamErrorLogLossText(); !lost.empty())
        std::fprintf(stderr, "velinor set: %s\n", PrintableText(lost).c_str());
    return exitCode;
}

} // namespace

Parsed<SetOptions> ParseSet(const Words& words) {
    const ParsedWords read = SetCommandLine().Parse(words);
    Parsed<SetOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    SetOptions& options = parsed.options;
    if (read.Has("--receiver") && !(options.receiverType = ChooseReceiver(read.Value("--receiver"), parsed.error)))
        return parsed;
    options.port = read.Value("--port");
    if (read.Has("--port") && options.port.empty()) parsed.error = "--port needs a value";
    if (!ReadInt(read, "--baud", 1, 10000000, options.baud)) parsed.error = "--baud takes a rate in bits per second";
    if (!ReadInt(read, "--last-baud", 0, 10000000, options.lastBaud))
        parsed.error = "--last-baud takes a rate in bits per second, or 0 (unknown)";
    if (!ReadInt(read, "--timeout", 1, 86400 * 365, options.timeout)) parsed.error = "--timeout takes whole seconds";
    options.untilConfirmed = read.Flag("--until-confirmed");
    options.save = read.Flag("--save");
    options.restoreOutput = read.Flag("--restore-output");
    options.verbose = read.Flag("--verbose");
    options.streamErrors = read.Flag("--stream-errors");
    return parsed;
}


CommandLine SetCommandLine() {
    return CommandLine("set")
        .Synopsis("velinor set --receiver NAME|ID --port PORT --baud RATE [--last-baud RATE] [--until-confirmed] "
                  "[--save] [--restore-output] [--timeout S] [--verbose] [--stream-errors]")
        .About("Finds the rate the receiver talks at, commands it to RATE, reopens the port at RATE and\n"
               "keeps pinging it there until Ctrl-C (or, with --until-confirmed, until it answers there;\n"
               "with --timeout, until S seconds have passed). Only use this when connected directly to the\n"
               "receiver via serial cable.\n")
        .Valued("--receiver", "NAME|ID", "receiver type: id or name from 'velinor receivers'")
        .Valued("--port", "PORT", "COM3 (see 'velinor ports'), or a device such as /dev/ttyUSB0")
        .Valued("--baud", "RATE", "wanted rate: one of the receiver type's rates (1200 to 115200 for most)")
        .Valued("--last-baud", "RATE",
                "rate the receiver is believed to run at (the first detection pass starts there); default: the "
                "last rate set")
        .Flag("--until-confirmed", "exit as soon as the receiver answers at RATE")
        .Flag("--save", "once it answers at RATE, have the receiver keep RATE after a power cycle where its "
                        "protocol can; the others say so. A failed save is a warning: the receiver still runs at "
                        "RATE (exit 0)")
        .Flag("--restore-output", "leave the receiver's periodic output as it was found (refused, exit 2, for the "
                                  "families whose stop cannot be undone exactly)")
        .Valued("--timeout", "S", "end the run after S seconds, with or without --until-confirmed")
        .Flag("--verbose", "print the receiver's trace lines")
        .Flag("--stream-errors", "write the stream error log (QuorvexStreamErrors_Trevask_*.log) in the current "
                                 "folder (refused, exit 3, when it cannot be written there)")
        .Footer("Receiver, port and rate default to the last ones used; the port is found again by its stable\n"
                "name (/dev/serial/by-id/...) wherever it is now, and refused when it is gone. Exit codes:\n"
                "0 confirmed at RATE, 1 not confirmed, 2 usage error, 3 port error, 143 terminated.\n"
                "\n"
                "Most families' sessions stop the receiver's periodic output, and it stays off afterwards: the\n"
                "last line says so and how to turn it on again.\n");
}

int RunSet(const Words& words) {
    const CommandLine line = SetCommandLine();
    const Parsed<SetOptions> parsed = ParseSet(words);
    if (const auto ending = ParseEnding(line, parsed)) return *ending;
    SetContext context = LoadContext();
    SetPlan plan = PlanSet(parsed.options, context.remembered);
    if (plan.exitCode == kExitUsage) return *ParseEnding(line, false, plan.error);
    if (plan.exitCode != kExitConfirmed) {
        std::fprintf(stderr, "velinor set: %s\n", PrintableText(plan.error).c_str());
        return plan.exitCode;
    }
    if (parsed.options.verbose) TraceToConsole();
    if (parsed.options.streamErrors) SetStreamErrorLogEnabled(true);
    return RunSetSession(plan.session, context, parsed.options.restoreOutput);
}
