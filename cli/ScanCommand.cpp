#include <cstdio>
#include <string>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/ReceiverChoice.h"
#include "cli/RecordingInput.h"
#include "cli/TimeText.h"
#include "comm/KPrintableText.h"
#include "comm/KRecordedComm.h"
#include "families/KReceiverFamily.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KReceiver.h"

namespace {

constexpr const char* kHelp =
    "usage: velinor scan --receiver NAME|ID [--json] FILE|-\n"
    "\n"
    "Reads a recorded receiver stream the way the receiver family does: the first time-tagged\n"
    "message near the start of the recording, and the last one in its final 8 KiB. Prints both\n"
    "as GPS week and seconds of week and as date and time (GPS and UTC), whether the stream\n"
    "carried the GPS week, and how many messages the scan framed. The file is read as a stream:\n"
    "recordings of any size are fine. - reads standard input (a pipe), keeping only its last\n"
    "8 KiB as it reads. A device such as a serial port is no recording: 'velinor identify --port\n"
    "PORT' finds what talks on a live port. --json prints the same as one JSON document (see\n"
    "docs/json.md): each time as week, seconds of week and ISO-8601 GPS and UTC.\n"
    "\n"
    "Exit codes: 0 messages were framed, 1 nothing was framed (or the family has no time scan),\n"
    "2 usage error, 3 the file cannot be read or is no recording.\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "velinor scan: %s\n(see 'velinor scan --help')\n", message.c_str());
    return kExitUsage;
}

// A time the scan looked for: "found" and, when found, its JsonGpsTime fields (else null).
JsonValue FoundTime(bool found, const KGPSTime& time, bool weekKnown) {
    JsonValue out = {{"found", found}};
    const JsonValue fields = JsonGpsTime(time, weekKnown);
    for (const auto& [key, value] : fields.items()) out[key] = found ? value : JsonValue();
    return out;
}

} // namespace

int RunScan(const Words& words) {
    const CliArgs args(words, {"--receiver"}, {"--help", "--json"});
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        return kExitConfirmed;
    }
    if (!args.Ok()) return Usage(args.Error());
    if (!args.Has("--receiver") || args.Positionals().size() != 1) return Usage("needs --receiver NAME and one FILE");
    std::string error;
    const int32_t type = ChooseReceiver(args.Value("--receiver"), error);
    if (!type) return Usage(error);
    const std::string name = FindCatalogueType(type)->displayName;
    const KReceiverFamily* family = FamilyOfType(type);
    if (!family) return Usage("receiver type \"" + name + "\" is not supported by this build yet");
    const std::string path = args.Positionals().front();
    const bool json = args.Flag("--json");
    JsonValue document = {{"file", path}, {"receiver", JsonReceiverType(type)}};
    auto fail = [&](const char* kind, const std::string& message, int exitCode) {
        return PrintFailure(json, document, "scan", kind, message, exitCode);
    };
    if (!family->scansTime)
        return fail("no-time-scan",
                    name + " receivers have no time scan: their recorded streams carry no time this tool reads.",
                    kExitNotConfirmed);

    KRecordedComm link = OpenRecording(path, kScanLimit, error);
    if (!error.empty()) return fail("file", error, kExitPortError);
    link.Open(0);
    auto receiver = family->createReceiver(type, false);
    receiver->Attach(&link, "Scan");
    bool gotFirst = false, gotLast = false, weekUnknown = true;
    KGPSTime first(KGPSTime::kGpsEpoch), last(KGPSTime::kGpsEpoch);
    const bool framedAny = receiver->ScanTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    const uint64_t framed = receiver->Monitor()->MessagesFramed();
    receiver->Detach();
    link.Seek(0, 2);  // a stream's size is known at its end

    document["bytes"] = link.Size();
    document["messagesFramed"] = framed;
    const std::string nothingFramed = std::string("No ") + family->name + " message was framed.";
    if (json) {
        if (!framedAny) return fail("nothing-framed", nothingFramed, kExitNotConfirmed);
        document["first"] = FoundTime(gotFirst, first, !weekUnknown);
        document["last"] = FoundTime(gotFirst && gotLast, last, !weekUnknown);
        document["weekUnknown"] = weekUnknown;
        PrintJson(document);
        return kExitConfirmed;
    }
    std::printf("%s: %llu bytes, read as %s (%s family)\n", PrintableText(path).c_str(),
                static_cast<unsigned long long>(link.Size()), name.c_str(), family->name);
    if (!framedAny) return fail("nothing-framed", nothingFramed, kExitNotConfirmed);
    std::printf("messages framed: %llu (from the start up to the first time, and in the last 8 KiB)\n",
                static_cast<unsigned long long>(framed));
    if (!gotFirst) {
        std::printf("No time-tagged message in the first part of the recording.\n");
        return kExitConfirmed;
    }
    std::printf("first: %s\n", GpsTimeText(first, !weekUnknown).c_str());
    if (gotLast)
        std::printf("last:  %s\n", GpsTimeText(last, !weekUnknown).c_str());
    else
        std::printf("last:  no time-tagged message in the last 8 KiB\n");
    std::printf("GPS week: %s\n", weekUnknown ? "unknown (the stream's times carry no week)" : "known");
    return kExitConfirmed;
}
