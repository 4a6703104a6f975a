#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/PortChoice.h"
#include "cli/ReceiverChoice.h"
#include "cli/SessionRunner.h"
#include "cli/TimeText.h"
#include "comm/KBaudRates.h"
#include "comm/KPrintableText.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "receivers/KReceiver.h"
#include "time/KLeapSeconds.h"

namespace {

constexpr const char* kHelp =
    "usage: velinor time --receiver NAME|ID --port PORT --baud RATE [--verbose] [--json]\n"
    "\n"
    "Asks the receiver for its GPS time at the rate it runs at now and prints it with its\n"
    "difference to this computer's clock. The receiver's periodic output is stopped first, as a\n"
    "session does; its rate is not changed. Exit codes: 0 the receiver answered, 1 it did not\n"
    "(or its family cannot be asked the time), 2 usage error, 3 port error. --json prints the\n"
    "answer or the failure as one JSON document (see docs/json.md).\n";

constexpr int32_t kSettleMs = 2000;

int Usage(const std::string& message) {
    std::fprintf(stderr, "velinor time: %s\n(see 'velinor time --help')\n", PrintableText(message).c_str());
    return kExitUsage;
}

} // namespace

int RunTime(const Words& words) {
    const CliArgs args(words, {"--receiver", "--port", "--baud"}, {"--help", "--verbose", "--json"});
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        return kExitConfirmed;
    }
    if (!args.Ok()) return Usage(args.Error());
    if (!args.Positionals().empty()) return Usage("unexpected argument '" + args.Positionals().front() + "'");
    if (!args.Has("--receiver") || !args.Has("--port") || !args.Has("--baud"))
        return Usage("needs --receiver NAME, --port PORT and --baud RATE");
    std::string error;
    const int32_t type = ChooseReceiver(args.Value("--receiver"), error);
    if (!type) return Usage(error);
    long long baud = 0;
    if (!ParseInt(args.Value("--baud"), 1, 10000000, baud) || !TypeTakesRate(type, baud))
        return Usage("--baud must be one of " + TypeRatesText(type));
    const std::string name = FindCatalogueType(type)->displayName;
    const KReceiverFamily* family = FamilyOfType(type);
    if (!family) return Usage("receiver type \"" + name + "\" is not supported by this build yet");
    const bool json = args.Flag("--json");
    JsonValue document = {{"receiver", JsonReceiverType(type)}, {"port", args.Value("--port")}, {"baud", baud}};
    auto fail = [&](const char* kind, const std::string& message, int exitCode) {
        return PrintFailure(json, document, "time", kind, message, exitCode);
    };
    if (!family->queriesTime)
        return fail("no-time-query", name + " receivers cannot be asked their time: their protocol has no time query.",
                    kExitNotConfirmed);
    PortChoice port;
    if (!ChoosePort(args.Value("--port"), port, error)) return fail("port", error, kExitPortError);
    document["port"] = port.display;
    if (args.Flag("--verbose")) TraceToConsole();

    if (json)
        KeepOpenFailures();
    else
        ReportOpenFailuresOnConsole();
    KSerialComm link;
    link.PortNumber = port.portNumber;
    link.DevicePath = port.devicePath;
    link.BaudRate = static_cast<int32_t>(baud);
    if (!link.Open(0)) {
        if (!json) return kExitPortError;  // the failure was reported with its reason
        document["error"] = JsonError("port-open", OpenFailureText(LastOpenFailure()));
        document["error"]["remedy"] = JsonTextOrNull(LastOpenFailure().remedy);
        PrintJson(document);
        return kExitPortError;
    }
    auto receiver = family->createReceiver(type, true);
    receiver->Attach(&link, "Trevask");
    receiver->StopAllBroadcast(kSettleMs);
    KGPSTime answer(KGPSTime::kGpsEpoch);
    const bool answered = receiver->QueryTime(answer);
    // The PC clock to the millisecond (the process clock gives whole seconds only).
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    KGPSTime pc(static_cast<int32_t>(std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count()));
    pc.nanoseconds = static_cast<int32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() % 1000000000);
    receiver->Detach();
    link.Close();

    if (!answered)
        return fail("no-answer",
                    name + " on " + port.display + " at " + std::to_string(baud) + " baud did not tell its time.",
                    kExitNotConfirmed);
    const int32_t leap = GpsMinusUtcSeconds(pc.utc);
    const double difference = SecondsBetween(pc, answer);
    if (json) {
        // The receiver's time on the scale it answers in (GPS or UTC, as the family's receivers do).
        document["receiverTime"] = {{"time", JsonCalendar(answer)},
                                    {"week", answer.GetGPSWeek()},
                                    {"secondsOfWeek", ShownSecondsOfWeek(answer)}};
        document["pcTime"] = {{"utc", JsonUtc(pc)}};
        document["receiverMinusPcSeconds"] = std::round(difference * 1000.0) / 1000.0;
        document["gpsMinusUtcSeconds"] = leap;
        PrintJson(document);
        return kExitConfirmed;
    }
    std::printf("receiver: %s\n", CalendarText(answer).c_str());
    std::printf("PC clock: %s.%03d UTC\n", pc.Format().c_str(), pc.nanoseconds / 1000000);
    std::printf("receiver minus PC clock: %+.3f s\n", difference);
    std::printf("(GPS time runs %d s ahead of UTC: a receiver that answers in GPS time shows about %+d s here\n"
                "when both clocks are right)\n",
                leap, leap);
    return kExitConfirmed;
}
