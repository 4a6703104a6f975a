#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/CliArgs.h"
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

constexpr const char* kHelp =
    "usage: velinor time --receiver NAME|ID --port PORT --baud RATE [--restore-output] [--verbose]\n"
    "                    [--json]\n"
    "\n"
    "Asks the receiver for its time at the rate it runs at now and prints it, the time scale it\n"
    "answers in (GPS or UTC, as the receiver's family does), and the receiver's clock error: its\n"
    "time as UTC (GPS time less the leap seconds of that moment) minus this computer's clock.\n"
    "The receiver's periodic output is stopped first, as a session does, and stays off: the last\n"
    "line says so and how to turn it on again. Its rate is not changed. --restore-output leaves\n"
    "the output as it was found (refused, exit 2, for the families whose stop cannot be undone\n"
    "exactly). Exit codes: 0 the receiver answered, 1 it did not (or its family cannot be asked\n"
    "the time), 2 usage error, 3 port error, 130 Ctrl-C, 143 terminated. --json prints the answer\n"
    "or the failure as one JSON document (see docs/json.md).\n";

constexpr int32_t kSettleMs = 2000;

int Usage(const std::string& message) {
    std::fprintf(stderr, "velinor time: %s\n(see 'velinor time --help')\n", PrintableText(message).c_str());
    return kExitUsage;
}

struct TimeRequest {
    int32_t type = 0;
    std::string name;
    const KReceiverFamily* family = nullptr;
    long long baud = 0;
};

// Reads what to ask; the usage error's exit code when the arguments do not say it.
std::optional<int> ParseTime(const CliArgs& args, TimeRequest& request) {
    if (!args.Ok()) return Usage(args.Error());
    if (!args.Positionals().empty()) return Usage("unexpected argument '" + args.Positionals().front() + "'");
    if (!args.Has("--receiver") || !args.Has("--port") || !args.Has("--baud"))
        return Usage("needs --receiver NAME, --port PORT and --baud RATE");
    std::string error;
    request.type = ChooseReceiver(args.Value("--receiver"), error);
    if (!request.type) return Usage(error);
    if (!ParseInt(args.Value("--baud"), 1, 10000000, request.baud) || !TypeTakesRate(request.type, request.baud))
        return Usage("--baud must be one of " + TypeRatesText(request.type));
    request.name = FindCatalogueType(request.type)->displayName;
    request.family = FamilyOfType(request.type);
    if (!request.family) return Usage("receiver type \"" + request.name + "\" is not supported by this build yet");
    if (args.Flag("--restore-output"))
        if (const std::string refusal = RestoreOutputRefusal(*request.family); !refusal.empty()) return Usage(refusal);
    return std::nullopt;
}

struct TimeAnswer {
    bool answered = false;
    KTimeScale scale = KTimeScale::Gps;
    KGPSTime receiver{KGPSTime::kGpsEpoch};
    KGPSTime pc{KGPSTime::kGpsEpoch};
};

// Silences the receiver on the open link and asks its time; the PC clock is read as it answers.
TimeAnswer AskTime(const TimeRequest& request, KSerialComm& link) {
    auto receiver = request.family->createReceiver(request.type, true);
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

} // namespace

int RunTime(const Words& words) {
    const CliArgs args(words, {"--receiver", "--port", "--baud"}, {"--help", "--verbose", "--json", "--restore-output"});
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        return kExitConfirmed;
    }
    TimeRequest request;
    if (const std::optional<int> exitCode = ParseTime(args, request)) return *exitCode;
    const bool json = args.Flag("--json");
    JsonValue document = {
        {"receiver", JsonReceiverType(request.type)}, {"port", args.Value("--port")}, {"baud", request.baud}};
    auto fail = [&](const char* kind, const std::string& message, int exitCode) {
        return PrintFailure(json, document, "time", kind, message, exitCode);
    };
    if (!request.family->queriesTime)
        return fail("no-time-query",
                    request.name + " receivers cannot be asked their time: their protocol has no time query.",
                    kExitNotConfirmed);
    PortChoice port;
    std::string error;
    if (!ChoosePort(args.Value("--port"), port, error)) return fail("port", error, kExitPortError);
    document["port"] = port.display;
    if (args.Flag("--verbose")) TraceToConsole();

    if (json)
        KeepOpenFailures();
    else
        ReportOpenFailuresOnConsole();
    StopRequest::Catch();
    const std::unique_ptr<KSerialComm> linkHolder = CreatePortLink(port.devicePath);
    KSerialComm& link = *linkHolder;
    link.PortNumber = port.portNumber;
    link.DevicePath = port.devicePath;
    link.BaudRate = static_cast<int32_t>(request.baud);
    if (!link.Open(0)) {
        if (!json) return kExitPortError;  // the failure was reported with its reason
        document["error"] = JsonError("port-open", OpenFailureText(LastOpenFailure()));
        document["error"]["remedy"] = JsonTextOrNull(LastOpenFailure().remedy);
        PrintJson(document);
        return kExitPortError;
    }
    const TimeAnswer answer = AskTime(request, link);
    link.Close();
    if (StopRequest::Requested()) {
        if (!json) std::fprintf(stderr, "velinor time: %s\n", StopRequest::Word());
        return StopRequest::ExitCode();
    }
    const std::string outputNote = OutputNote(*request.family, args.Flag("--restore-output"));
    document["output"] = {{"stopped", request.family->output.stopped}, {"note", outputNote}};
    if (!answer.answered) {
        const int exitCode = fail("no-answer",
                                  request.name + " on " + port.display + " at " + std::to_string(request.baud) +
                                      " baud did not tell its time.",
                                  kExitNotConfirmed);
        if (!json) std::printf("%s\n", outputNote.c_str());
        return exitCode;
    }
    PrintTime(answer, json, document);
    if (!json) std::printf("%s\n", outputNote.c_str());
    return kExitConfirmed;
}
