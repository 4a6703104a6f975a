#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/OutputNote.h"
#include "cli/PortChoice.h"
#include "cli/ReceiverChoice.h"
#include "cli/SessionRunner.h"
#include "cli/StopRequest.h"
#include "cli/TimeText.h"
#include "comm/KBaudRates.h"
#include "comm/KNetworkComm.h"
#include "comm/KPrintableText.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"
#include "time/KLeapSeconds.h"

namespace {

constexpr int32_t kSettleMs = 2000;

struct TimeAnswer {
    bool answered = false;
    KTimeScale scale = KTimeScale::Gps;
    KGPSTime receiver{KGPSTime::kGpsEpoch};
    KGPSTime pc{KGPSTime::kGpsEpoch};
};

// Silences the receiver on the open link and asks its time; the PC clock is read as it answers.
TimeAnswer AskTime(int32_t type, KSerialComm& link) {
    auto receiver = FamilyOfType(type)->createReceiver(type, true);
    receiver->Attach(&link, "Trevask");
    receiver->StopAllBroadcast(kSettleMs);
    TimeAnswer answer;
    // Ctrl-C is noticed between the two exchanges, each bounded by its reply wait.
    if (StopRequest::Requested()) {
        receiver->Detach();
        return answer;
    }
    answer.answered = receiver->QueryTime(answer.receiver);
    answer.scale = receiver->TimeAnswerScale();
    // The PC clock to the millisecond (the process clock gives whole seconds only).
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    answer.pc = KGPSTime(static_cast<int32_t>(std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count()));
    answer.pc.nanoseconds =
        static_cast<int32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() % 1000000000);
    receiver->Detach();
    return answer;
}

struct TimeOutcome {
    std::string portShown;    // as the port was found, or as given
    std::string failureKind;  // "no-time-query", "port", "port-open", "no-answer"; empty for an answer
    std::string failure;
    TimeAnswer answer;
    bool spokenTo = false;  // the receiver was spoken to: what became of its output is said
    bool stopped = false;   // by Ctrl-C or a termination request
};

TimeOutcome AskTime(const TimeOptions& options) {
    TimeOutcome outcome;
    outcome.portShown = options.port;
    const std::string name = FindCatalogueType(options.type)->displayName;
    PortChoice port;
    if (!FamilyOfType(options.type)->queriesTime) {
        outcome.failureKind = "no-time-query";
        outcome.failure = name + " receivers cannot be asked their time: their protocol has no time query.";
    } else if (!ChoosePort(options.port, port, outcome.failure)) {
        outcome.failureKind = "port";
    }
    if (!outcome.failureKind.empty()) return outcome;
    outcome.portShown = port.display;
    PrepareConsole(options.json, options.verbose);
    const std::unique_ptr<KSerialComm> linkHolder = CreatePortLink(port.devicePath);
    KSerialComm& link = *linkHolder;
    link.PortNumber = port.portNumber;
    link.DevicePath = port.devicePath;
    link.BaudRate = static_cast<int32_t>(options.baud);
    if (!link.Open(0)) {
        outcome.failureKind = "port-open";
        outcome.failure = OpenFailureText(LastOpenFailure());
        return outcome;
    }
    outcome.answer = AskTime(options.type, link);
    link.Close();
    outcome.stopped = StopRequest::Requested();
    outcome.spokenTo = !outcome.stopped;
    if (!outcome.stopped && !outcome.answer.answered) {
        outcome.failureKind = "no-answer";
        outcome.failure = name + " on " + port.display + " at " + std::to_string(options.baud) + " baud did not tell its time.";
    }
    return outcome;
}

void PrintTime(const TimeAnswer& answer, bool json, JsonValue& document) {
    const int32_t leap = GpsMinusUtcSeconds(answer.pc.utc);
    const double difference = SecondsBetween(answer.pc, answer.receiver);
    // The receiver's clock error: its answer as UTC against the PC clock, which keeps UTC.
    const KGPSTime receiverUtc = answer.scale == KTimeScale::Gps ? GpsToUtc(answer.receiver) : answer.receiver;
    const double clockError = SecondsBetween(answer.pc, receiverUtc);
    const char* scale = TimeScaleName(answer.scale);
    if (json) {
        // The receiver's time on the scale it answers in.
        document["receiverTime"] = {{"time", JsonCalendar(answer.receiver)},
                                    {"week", answer.receiver.GetGPSWeek()},
                                    {"secondsOfWeek", ShownSecondsOfWeek(answer.receiver)},
                                    {"scale", scale}};
        document["pcTime"] = {{"utc", JsonUtc(answer.pc)}};
        document["receiverMinusPcSeconds"] = std::round(difference * 1000.0) / 1000.0;
        document["gpsMinusUtcSeconds"] = leap;
        document["receiverClockErrorSeconds"] = std::round(clockError * 1000.0) / 1000.0;
        PrintJson(document);
        return;
    }
    // A GPS week and time of week belong to GPS time only.
    if (answer.scale == KTimeScale::Gps)
        std::printf("receiver: %s GPS\n", CalendarText(answer.receiver).c_str());
    else
        std::printf("receiver: %s.%03d %s\n", answer.receiver.Format().c_str(), answer.receiver.nanoseconds / 1000000,
                    scale);
    std::printf("PC clock: %s.%03d UTC\n", answer.pc.Format().c_str(), answer.pc.nanoseconds / 1000000);
    std::printf("receiver clock error: %+.3f s", clockError);
    if (answer.scale == KTimeScale::Gps)
        std::printf(" (its GPS time less the %d s GPS runs ahead of UTC, minus the PC clock)\n", leap);
    else
        std::printf(" (its UTC time minus the PC clock)\n");
}

int PrintTimeOutcome(const TimeOptions& options, const TimeOutcome& outcome) {
    JsonValue document = {
        {"receiver", JsonReceiverType(options.type)}, {"port", outcome.portShown}, {"baud", options.baud}};
    if (outcome.failureKind == "port-open") {
        if (!options.json) return kExitPortError;  // the failure was reported with its reason
        document["error"] = JsonError("port-open", outcome.failure);
        document["error"]["remedy"] = JsonTextOrNull(LastOpenFailure().remedy);
        PrintJson(document);
        return kExitPortError;
    }
    if (outcome.stopped) {
        if (!options.json) std::fprintf(stderr, "velinor time: %s\n", StopRequest::Word());
        return StopRequest::ExitCode();
    }
    if (!outcome.spokenTo)
        return PrintFailure(options.json, document, "time", outcome.failureKind, outcome.failure,
                            outcome.failureKind == "port" ? kExitPortError : kExitNotConfirmed);
    const KReceiverFamily& family = *FamilyOfType(options.type);
    const std::string outputNote = OutputNote(family, options.restoreOutput);
    document["output"] = {{"stopped", family.output.stopped}, {"note", outputNote}};
    int exitCode = kExitConfirmed;
    if (outcome.failureKind.empty())
        PrintTime(outcome.answer, options.json, document);
    else
        exitCode = PrintFailure(options.json, document, "time", outcome.failureKind, outcome.failure, kExitNotConfirmed);
    if (!options.json) std::printf("%s\n", outputNote.c_str());
    return exitCode;
}

} // namespace

Parsed<TimeOptions> ParseTime(const Words& words) {
    const ParsedWords read = TimeCommandLine().Parse(words);
    Parsed<TimeOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    TimeOptions& options = parsed.options;
    options = {0, read.Value("--port"), 0, read.Flag("--verbose"), read.Flag("--json"), read.Flag("--restore-output")};
    if (!read.Has("--receiver") || !read.Has("--port") || !read.Has("--baud")) {
        parsed.error = "needs --receiver NAME|ID, --port PORT and --baud RATE";
        return parsed;
    }
    options.type = ChooseReceiver(read.Value("--receiver"), parsed.error);
    if (options.type == 0) return parsed;
    if (!ParseInt(read.Value("--baud"), 1, 10000000, options.baud) || !TypeTakesRate(options.type, options.baud))
        parsed.error = "--baud must be one of " + TypeRatesText(options.type);
    else if (!FamilyOfType(options.type))
        parsed.error = std::string("receiver type \"") + FindCatalogueType(options.type)->displayName +
                       "\" is not supported by this build yet";
    else if (options.restoreOutput)
        parsed.error = RestoreOutputRefusal(*FamilyOfType(options.type));
    return parsed;
}


CommandLine TimeCommandLine() {
    return CommandLine("time")
        .Synopsis("velinor time --receiver NAME|ID --port PORT --baud RATE [--restore-output] [--verbose] [--json]")
        .About("Asks the receiver for its time at the rate it runs at now and prints it, the time scale it\n"
               "answers in (GPS or UTC, as the receiver's family does), and the receiver's clock error: its\n"
               "time as UTC (GPS time less the leap seconds of that moment) minus this computer's clock.\n"
               "The receiver's periodic output is stopped first, as a session does, and stays off: the last\n"
               "line says so and how to turn it on again. Its rate is not changed.\n")
        .Valued("--receiver", "NAME|ID", "receiver type: id or name from 'velinor receivers'")
        .Valued("--port", "PORT", "COM3 (see 'velinor ports'), or a device such as /dev/ttyUSB0")
        .Valued("--baud", "RATE", "the rate the receiver runs at now")
        .Flag("--restore-output", "leave the output as it was found (refused, exit 2, for the families whose "
                                  "stop cannot be undone exactly)")
        .Flag("--verbose", "print the receiver's trace lines")
        .Flag("--json", "print the answer or the failure as one JSON document (see docs/json.md)")
        .Footer("Exit codes: 0 the receiver answered, 1 it did not (or its family cannot be asked the time),\n"
                "2 usage error, 3 port error, 130 Ctrl-C, 143 terminated.\n");
}

int RunTime(const Words& words) {
    const Parsed<TimeOptions> parsed = ParseTime(words);
    if (const auto ending = ParseEnding(TimeCommandLine(), parsed)) return *ending;
    return PrintTimeOutcome(parsed.options, AskTime(parsed.options));
}
