#include <cstdio>
#include <string>

#include "cli/CliArgs.h"
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

constexpr const char* kHelp =
    "usage: velinor set --receiver NAME|ID --port PORT --baud RATE [options]\n"
    "\n"
    "Finds the rate the receiver talks at, commands it to RATE, reopens the port at RATE and\n"
    "keeps pinging it there until Ctrl-C (or, with --until-confirmed, until it answers there).\n"
    "Only use this when connected directly to the receiver via serial cable.\n"
    "\n"
    "  --receiver NAME|ID  receiver type: id or name from 'velinor receivers'\n"
    "  --port PORT         COM3 (see 'velinor ports'), or a device such as /dev/ttyUSB0\n"
    "  --baud RATE         wanted rate: 1200 2400 4800 9600 19200 38400 57600 115200\n"
    "  --last-baud RATE    rate the receiver is believed to run at (first detection pass starts\n"
    "                      there); default: the last rate set\n"
    "  --until-confirmed   exit as soon as the receiver answers at RATE\n"
    "  --save              once it answers at RATE, have the receiver keep RATE after a power\n"
    "                      cycle where its protocol can (u-blox, Septentrio); the others say so.\n"
    "                      A failed save is a warning: the receiver still runs at RATE (exit 0)\n"
    "  --restore-output    leave the receiver's periodic output as it was found (refused, exit 2,\n"
    "                      for the families whose stop cannot be undone exactly)\n"
    "  --timeout S         give up after S seconds\n"
    "  --verbose           print the receiver's trace lines\n"
    "  --stream-errors     write the stream error log (QuorvexStreamErrors_*.log) here (refused,\n"
    "                      exit 3, when it cannot be written there)\n"
    "\n"
    "Receiver, port and rate default to the last ones used; the port is found again by its stable\n"
    "name (/dev/serial/by-id/...) wherever it is now, and refused when it is gone. Exit codes:\n"
    "0 confirmed at RATE, 1 not confirmed, 2 usage error, 3 port error, 143 terminated.\n"
    "\n"
    "Most families' sessions stop the receiver's periodic output, and it stays off afterwards: the\n"
    "last line says so and how to turn it on again.\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "velinor set: %s\n(see 'velinor set --help')\n", PrintableText(message).c_str());
    return kExitUsage;
}

} // namespace

int RunSet(const Words& words) {
    const CliArgs args(words, {"--receiver", "--port", "--baud", "--last-baud", "--timeout"},
                       {"--until-confirmed", "--help", "--verbose", "--stream-errors", "--save",
                        "--restore-output"});
    if (!args.Ok()) return Usage(args.Error());
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        return kExitConfirmed;
    }
    if (!args.Positionals().empty()) return Usage("unexpected argument '" + args.Positionals().front() + "'");

    const std::string settingsPath = KConsole::SettingsFilePath();
    std::string settingsProblem;
    RememberedChoices remembered = RememberedChoices::Load(settingsPath, &settingsProblem);
    if (!settingsProblem.empty())
        std::fprintf(stderr, "velinor set: %s: the last choices are not known\n", PrintableText(settingsProblem).c_str());

    SessionPlan plan;
    std::string error;
    if (args.Has("--receiver")) {
        plan.receiverType = ChooseReceiver(args.Value("--receiver"), error);
        if (!plan.receiverType) return Usage(error);
    } else if (remembered.found) {
        plan.receiverType = remembered.receiverType;
    } else {
        return Usage("--receiver is needed (no receiver used before)");
    }
    if (!CreateReceiver(plan.receiverType)) {
        const KCatalogueType* row = FindCatalogueType(plan.receiverType);
        return Usage(std::string("receiver type \"") + (row ? row->displayName : "?") +
                     "\" is not supported by this build yet");
    }

    const KReceiverFamily& family = *FamilyOfType(plan.receiverType);
    const bool restoreOutput = args.Flag("--restore-output");
    if (restoreOutput)
        if (const std::string refusal = RestoreOutputRefusal(family); !refusal.empty()) return Usage(refusal);

    long long baud = 0;
    if (args.Has("--baud")) {
        if (!ParseInt(args.Value("--baud"), 1, 10000000, baud) || !TypeTakesRate(plan.receiverType, baud))
            return Usage("--baud must be one of " + TypeRatesText(plan.receiverType));
    } else if (remembered.found && TypeTakesRate(plan.receiverType, remembered.baud)) {
        baud = remembered.baud;
    } else {
        return Usage("--baud is needed");
    }
    plan.targetBaud = static_cast<int32_t>(baud);

    // The rate last set is where the first detection pass starts.
    long long lastBaud = remembered.found && TypeTakesRate(plan.receiverType, remembered.baud) ? remembered.baud : 0;
    if (args.Has("--last-baud")) {
        if (!ParseInt(args.Value("--last-baud"), 0, 10000000, lastBaud) ||
            (lastBaud != 0 && !TypeTakesRate(plan.receiverType, lastBaud)))
            return Usage("--last-baud must be 0 (unknown) or one of " + TypeRatesText(plan.receiverType));
    }
    plan.lastKnownBaud = static_cast<int32_t>(lastBaud);

    const std::string portText = args.Value("--port");
    if (portText.empty() && !remembered.found) return Usage("--port is needed (see 'velinor ports')");
    const bool portChosen = !portText.empty() ? ChoosePort(portText, plan.port, error)
                                              : ChooseRememberedPort(remembered.portNumber, remembered.portIdentity,
                                                                     remembered.device, plan.port, error);
    if (!portChosen) {
        std::fprintf(stderr, "velinor set: %s\n", PrintableText(error).c_str());
        return kExitPortError;
    }
    if (IsFixedRatePort(plan.port.devicePath))
        return Usage(plan.port.devicePath + " is a raw TCP port: its rate is fixed at the server and cannot be set from "
                     "here. Name the port as rfc2217://HOST:PORT on a server that speaks RFC 2217 (ser2net: an "
                     "accepter of telnet(rfc2217))");

    if (args.Has("--timeout")) {
        long long seconds = 0;
        if (!ParseInt(args.Value("--timeout"), 1, 86400 * 365, seconds)) return Usage("--timeout takes whole seconds");
        plan.timeoutSeconds = static_cast<double>(seconds);
    }
    plan.untilConfirmed = args.Flag("--until-confirmed");
    plan.saveRate = args.Flag("--save");
    if (args.Flag("--verbose")) TraceToConsole();
    if (args.Flag("--stream-errors")) {
        if (const std::string refusal = StreamErrorLogRefusal("Trevask"); !refusal.empty()) {
            std::fprintf(stderr, "velinor set: %s\n", PrintableText(refusal).c_str());
            return kExitPortError;
        }
        SetStreamErrorLogEnabled(true);
    }

    // Remembered once the port has opened, whatever the outcome then: the choices are what was
    // asked for, but a port that never opened is no default for the next run.
    remembered.receiverType = plan.receiverType;
    remembered.portNumber = plan.port.portNumber;
    remembered.device = plan.port.devicePath;
    remembered.portIdentity = plan.port.identity;
    remembered.baud = plan.targetBaud;
    bool portOpened = false;
    plan.onPortOpened = [&] {
        portOpened = true;
        if (!remembered.Save(settingsPath, &settingsProblem) && !settingsProblem.empty())
            std::fprintf(stderr, "velinor set: these choices are not remembered: %s\n",
                         PrintableText(settingsProblem).c_str());
    };

    const KCatalogueType* row = FindCatalogueType(plan.receiverType);
    std::printf("%s on %s, wanted rate %d baud\n", row ? row->displayName : "?", PrintableText(plan.port.display).c_str(),
                plan.targetBaud);
    std::fflush(stdout);
    StatusLine status(stdout, KConsole::IsTerminal(stdout), KConsole::EnableColours(stdout));
    const int exitCode = RunSessionPlan(plan, status);
    if (portOpened) std::printf("%s\n", OutputNote(family, restoreOutput).c_str());
    if (const std::string lost = StreamErrorLogLossText(); !lost.empty())
        std::fprintf(stderr, "velinor set: %s\n", PrintableText(lost).c_str());
    return exitCode;
}
