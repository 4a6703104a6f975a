#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/OutputNote.h"
#include "cli/PortChoice.h"
#include "cli/ReceiverChoice.h"
#include "cli/SessionRunner.h"
#include "cli/StopRequest.h"
#include "comm/KNetworkComm.h"
#include "comm/KPrintableText.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"
#include "session/KReceiverIdentifier.h"

namespace {

struct IdentifyOutcome {
    PortChoice port;
    std::string portError;  // the port named is none
    KReceiverIdentifier::Result result;
};

std::string Seconds(int32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

std::string HeardText(const KReceiverIdentifier::Heard& heard) {
    std::string text = std::to_string(heard.baud) + " baud: " + std::to_string(heard.bytes) + " bytes in " +
                       Seconds(heard.listenedMs);
    if (heard.protocols.empty()) {
        if (!heard.bytes) return text;
        text += ", no protocol recognised";
        if (heard.checkedBy.empty()) return text;
        std::string families;
        for (size_t i = 0; i < heard.checkedBy.size(); ++i)
            families += (i == 0 ? "" : i + 1 == heard.checkedBy.size() ? " or " : ", ") + std::string(heard.checkedBy[i]->name);
        return text + " (" + std::to_string(heard.checkedMessages) + " checked messages " + families +
               " may send: asked first)";
    }
    for (const auto& p : heard.protocols)
        text += ", " + std::to_string(p.messages) + " checked " + p.family->protocol.name + " message" +
                (p.messages == 1 ? "" : "s");
    return text;
}

void PrintTypes(const KReceiverFamily& family, const std::string& shownPort, int32_t baud) {
    std::vector<std::string> differences;
    bool alike = true;
    for (const KCatalogueType& type : family.types) {
        differences.push_back(TypeDifference(family, type));
        alike = alike && differences.back().empty();
    }
    if (family.types.size() == 1) {
        std::printf("Receiver type that fits:\n  %3d  %s\n", family.types.front().typeId, family.types.front().displayName);
        std::printf("To set its rate: velinor set --receiver %d --port %s --last-baud %d --baud RATE\n",
                    family.types.front().typeId, shownPort.c_str(), baud);
        return;
    }
    std::printf("Receiver types that fit (the %s protocol does not tell them apart):\n", family.protocol.name);
    for (size_t i = 0; i < family.types.size(); ++i) {
        const KCatalogueType& type = family.types[i];
        if (differences[i].empty())
            std::printf("  %3d  %s\n", type.typeId, type.displayName);
        else
            std::printf("  %3d  %-20s %s\n", type.typeId, type.displayName, differences[i].c_str());
    }
    std::string ids;
    for (size_t i = 0; i < family.types.size(); ++i)
        ids += (i == 0 ? "" : i + 1 == family.types.size() ? " or " : ", ") + std::to_string(family.types[i].typeId);
    std::printf("To set its rate: velinor set --receiver ID --port %s --last-baud %d --baud RATE\n", shownPort.c_str(),
                baud);
    if (alike)
        std::printf("  with ID %s: they are driven alike, so any of them does; the model's name picks one.\n",
                    ids.c_str());
    else
        std::printf("  with ID %s, the one the receiver's model name matches.\n", ids.c_str());
}

void PrintText(const KReceiverIdentifier::Result& result, const PortChoice& port, bool listenOnly) {
    const std::string shown = PrintableText(port.display);
    if (result.found) {
        const KReceiverFamily& family = *result.family;
        const std::string rate = result.rateFixed ? "at the server's rate" : "at " + std::to_string(result.baud) + " baud";
        if (result.byListening)
            std::printf("%s receiver (protocol %s) %s on %s, found by listening: %llu checked messages, "
                        "nothing sent.\n",
                        family.name, family.protocol.name, rate.c_str(), shown.c_str(),
                        static_cast<unsigned long long>(result.messages));
        else
            std::printf("%s receiver (protocol %s) %s on %s, found by asking: it answered the %s request.\n",
                        family.name, family.protocol.name, rate.c_str(), shown.c_str(), family.name);
        if (result.rateFixed)
            std::printf("A raw TCP port's rate is the server's: to set it from here, have the server speak RFC 2217\n"
                        "and name the port rfc2217://HOST:PORT.\n");
        else
            PrintTypes(family, shown, result.baud);
    } else {
        std::printf("Nothing answered on %s: no protocol was heard at any rate%s.\n", shown.c_str(),
                    result.asked.empty() ? " (nothing was asked)" : ", and no family answered its request at any rate");
        std::printf("Check that the receiver is on, that the cable goes to the port the receiver talks on, and\n"
                    "whether it needs a null-modem cable or adapter. 'velinor doctor %s' checks the port.\n",
                    shown.c_str());
        std::fputs(SilencedOutputHint(listenOnly).c_str(), stdout);
    }
    std::printf("Heard:\n");
    for (const auto& heard : result.heard) std::printf("  %s\n", HeardText(heard).c_str());
    if (result.asked.empty()) return;
    std::printf("Asked:\n");
    for (const auto& asked : result.asked)
        std::printf("  %6d baud: %-8s %s (%s)\n", asked.baud, asked.family->name,
                    asked.answered ? "answered" : "no answer", Seconds(asked.waitedMs).c_str());
}

JsonValue Document(const KReceiverIdentifier::Result& result, const PortChoice& port) {
    JsonValue document = {{"port", port.display}, {"found", result.found}};
    const KReceiverFamily* family = result.found ? result.family : nullptr;
    document["family"] = family ? JsonValue(family->name) : JsonValue(nullptr);
    document["protocol"] = family ? JsonValue(family->protocol.name) : JsonValue(nullptr);
    document["baud"] = family && !result.rateFixed ? JsonValue(result.baud) : JsonValue(nullptr);
    document["rateFixed"] = result.rateFixed;
    document["method"] = family ? JsonValue(result.byListening ? "listening" : "asking") : JsonValue(nullptr);
    JsonValue types = JsonValue::array();
    if (family)
        for (const KCatalogueType& type : family->types) types.push_back(JsonReceiverType(type.typeId));
    document["types"] = types;
    JsonValue heard = JsonValue::array();
    for (const auto& h : result.heard) {
        JsonValue protocols = JsonValue::array();
        for (const auto& p : h.protocols)
            protocols.push_back({{"protocol", p.family->protocol.name},
                                 {"family", p.family->name},
                                 {"messages", p.messages},
                                 {"messageBytes", p.messageBytes}});
        JsonValue checkedBy = JsonValue::array();
        for (const KReceiverFamily* by : h.checkedBy) checkedBy.push_back(by->name);
        heard.push_back({{"baud", h.baud},
                         {"bytes", h.bytes},
                         {"milliseconds", h.listenedMs},
                         {"protocols", protocols},
                         {"checkedMessages", h.checkedMessages},
                         {"checkedBy", checkedBy}});
    }
    document["heard"] = heard;
    JsonValue asked = JsonValue::array();
    for (const auto& a : result.asked)
        asked.push_back({{"baud", a.baud},
                         {"family", a.family->name},
                         {"type", a.type},
                         {"answered", a.answered},
                         {"milliseconds", a.waitedMs}});
    document["asked"] = asked;
    document["listenMilliseconds"] = result.listenMs;
    document["askMilliseconds"] = result.askMs;
    return document;
}

IdentifyOutcome Identify(const IdentifyOptions& options) {
    IdentifyOutcome outcome;
    if (!ChoosePort(options.port, outcome.port, outcome.portError)) return outcome;
    PrepareConsole(options.json, options.verbose);
    const PortChoice& port = outcome.port;
    KReceiverIdentifier identifier([&port] { return CreatePortLink(port.devicePath); }, CreateCatalogueReceiver);
    KReceiverIdentifier::Options run;
    run.ask = !options.listenOnly;
    run.stopWanted = StopRequest::Requested;
    const bool json = options.json;
    auto progress = [json](const std::string& step) {
        if (!json) std::fprintf(stderr, "velinor identify: %s\n", PrintableText(step).c_str());
    };
    outcome.result = identifier.Run(outcome.port.portNumber, outcome.port.devicePath, run, progress);
    return outcome;
}

int PrintIdentify(const IdentifyOptions& options, const IdentifyOutcome& outcome) {
    if (!outcome.portError.empty())
        return PrintFailure(options.json, {{"port", options.port}, {"found", false}}, "identify", "port",
                            outcome.portError, kExitPortError);
    if (outcome.result.stopped) {
        if (!options.json) std::fprintf(stderr, "velinor identify: %s\n", StopRequest::Word());
        return StopRequest::ExitCode();
    }
    if (outcome.result.portFailed) {
        if (!options.json) return kExitPortError;  // the failure was reported with its reason
        JsonValue document = {{"port", outcome.port.display}, {"found", false}};
        document["error"] = JsonError("port-open", OpenFailureText(LastOpenFailure()));
        document["error"]["remedy"] = JsonTextOrNull(LastOpenFailure().remedy);
        PrintJson(document);
        return kExitPortError;
    }
    if (options.json)
        PrintJson(Document(outcome.result, outcome.port));
    else
        PrintText(outcome.result, outcome.port, options.listenOnly);
    return outcome.result.found ? kExitConfirmed : kExitNotConfirmed;
}

} // namespace

Parsed<IdentifyOptions> ParseIdentify(const Words& words) {
    const ParsedWords read = IdentifyCommandLine().Parse(words);
    Parsed<IdentifyOptions> parsed{{}, read.help, read.error};
    if (!read.help && read.error.empty() && !read.Has("--port")) parsed.error = "needs --port PORT";
    parsed.options = {read.Value("--port"), read.Flag("--listen-only"), read.Flag("--json"), read.Flag("--verbose")};
    return parsed;
}


CommandLine IdentifyCommandLine() {
    return CommandLine("identify")
        .Synopsis("velinor identify --port PORT [--listen-only] [--json] [--verbose]")
        .About("Finds which protocol the device on PORT speaks and at which rate, and which receiver types\n"
               "fit. First it only listens, at each rate, and frames what arrives with every family's framer:\n"
               "only messages whose checks hold count, so plain NMEA and noise identify nothing, and a\n"
               "receiver that is talking is found without a byte sent to it. If that finds nothing, it asks:\n"
               "each family's harmless request (the one a session pings with) at each rate, first where\n"
               "checked messages were heard (a receiver talking plain NMEA), then the common rates first.\n"
               "It never sends a command that changes the receiver's settings. Listening takes up to about\n"
               "35 s; asking, up to about 2.5 minutes more, seconds when checked messages told the rate.\n"
               "\n"
               "Never point it at a port that may be a serial console (a login prompt or a computer's console\n"
               "on the line): the requests it asks with hold control bytes (^C, ^D, ^\\, XON) and lines of\n"
               "text that a login prompt or shell there would take as typed input. A port that a getty or\n"
               "any other program holds open is refused; a console that nothing holds open is not recognised.\n"
               "--listen-only sends nothing.\n")
        .Valued("--port", "PORT", "COM3 (see 'velinor ports'), or a device such as /dev/ttyUSB0")
        .Flag("--listen-only", "never send anything: stop after listening")
        .Flag("--json", "print one JSON document (see docs/json.md) instead of text")
        .Flag("--verbose", "trace what is sent and received on standard error")
        .Footer("Exit codes: 0 found, 1 nothing answered, 2 usage error, 3 port error, 130 Ctrl-C, 143\n"
                "terminated.\n");
}

int RunIdentify(const Words& words) {
    const Parsed<IdentifyOptions> parsed = ParseIdentify(words);
    if (const auto ending = ParseEnding(IdentifyCommandLine(), parsed)) return *ending;
    return PrintIdentify(parsed.options, Identify(parsed.options));
}
