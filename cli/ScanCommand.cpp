#include <cstdio>
#include <string>

#include "cli/CommandOptions.h"
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

struct ScanResult {
    const KReceiverFamily* family = nullptr;
    std::string failureKind;  // "no-time-scan", "file", "nothing-framed"; empty for an answer
    std::string failure;
    uint64_t bytes = 0;
    uint64_t framed = 0;
    bool gotFirst = false, gotLast = false, weekUnknown = true;
    KGPSTime first{KGPSTime::kGpsEpoch}, last{KGPSTime::kGpsEpoch};
};

ScanResult Scan(const ScanOptions& options) {
    ScanResult result;
    result.family = FamilyOfType(options.type);
    const std::string name = FindCatalogueType(options.type)->displayName;
    if (!result.family->scansTime) {
        result.failureKind = "no-time-scan";
        result.failure = name + " receivers have no time scan: their recorded streams carry no time this tool reads.";
        return result;
    }
    KRecordedComm link = OpenRecording(options.file, kScanLimit, result.failure);
    if (!result.failure.empty()) {
        result.failureKind = "file";
        return result;
    }
    link.Open(0);
    auto receiver = result.family->createReceiver(options.type, false);
    receiver->Attach(&link, "Scan");
    const bool framedAny =
        receiver->ScanTimeSpan(result.gotFirst, result.first, result.gotLast, result.last, result.weekUnknown);
    result.framed = receiver->Monitor()->MessagesFramed();
    receiver->Detach();
    link.Seek(0, 2);  // a stream's size is known at its end
    result.bytes = link.Size();
    if (!framedAny) {
        result.failureKind = "nothing-framed";
        result.failure = std::string("No ") + result.family->name + " message was framed.";
    }
    return result;
}

int FailureExit(const std::string& kind) {
    return kind == "file" ? kExitPortError : kExitNotConfirmed;
}

// A time the scan looked for: "found" and, when found, its JsonGpsTime fields (else null).
JsonValue FoundTime(bool found, const KGPSTime& time, bool weekKnown) {
    JsonValue out = {{"found", found}};
    const JsonValue fields = JsonGpsTime(time, weekKnown);
    for (const auto& [key, value] : fields.items()) out[key] = found ? value : JsonValue();
    return out;
}

int PrintScanJson(const ScanOptions& options, const ScanResult& result) {
    JsonValue document = {{"file", options.file}, {"receiver", JsonReceiverType(options.type)}};
    if (result.failureKind == "no-time-scan" || result.failureKind == "file")
        return PrintFailure(true, document, "scan", result.failureKind, result.failure, FailureExit(result.failureKind));
    document["bytes"] = result.bytes;
    document["messagesFramed"] = result.framed;
    if (!result.failureKind.empty())
        return PrintFailure(true, document, "scan", result.failureKind, result.failure, FailureExit(result.failureKind));
    document["first"] = FoundTime(result.gotFirst, result.first, !result.weekUnknown);
    document["last"] = FoundTime(result.gotFirst && result.gotLast, result.last, !result.weekUnknown);
    document["weekUnknown"] = result.weekUnknown;
    PrintJson(document);
    return kExitConfirmed;
}

int PrintScanText(const ScanOptions& options, const ScanResult& result) {
    if (result.failureKind == "no-time-scan" || result.failureKind == "file")
        return PrintFailure(false, {}, "scan", result.failureKind, result.failure, FailureExit(result.failureKind));
    std::printf("%s: %llu bytes, read as %s (%s family)\n", PrintableText(options.file).c_str(),
                static_cast<unsigned long long>(result.bytes), FindCatalogueType(options.type)->displayName,
                result.family->name);
    if (!result.failureKind.empty())
        return PrintFailure(false, {}, "scan", result.failureKind, result.failure, FailureExit(result.failureKind));
    std::printf("messages framed: %llu (from the start up to the first time, and in the last 8 KiB)\n",
                static_cast<unsigned long long>(result.framed));
    if (!result.gotFirst) {
        std::printf("No time-tagged message in the first part of the recording.\n");
        return kExitConfirmed;
    }
    std::printf("first: %s\n", GpsTimeText(result.first, !result.weekUnknown).c_str());
    if (result.gotLast)
        std::printf("last:  %s\n", GpsTimeText(result.last, !result.weekUnknown).c_str());
    else
        std::printf("last:  no time-tagged message in the last 8 KiB\n");
    std::printf("GPS week: %s\n", result.weekUnknown ? "unknown (the stream's times carry no week)" : "known");
    return kExitConfirmed;
}

} // namespace

Parsed<ScanOptions> ParseScan(const Words& words) {
    const ParsedWords read = ScanCommandLine().Parse(words);
    Parsed<ScanOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    if (!read.Has("--receiver") || read.Positionals().size() != 1) {
        parsed.error = "needs --receiver NAME|ID and one FILE";
        return parsed;
    }
    parsed.options.type = ChooseReceiver(read.Value("--receiver"), parsed.error);
    if (parsed.options.type && !FamilyOfType(parsed.options.type))
        parsed.error = std::string("receiver type \"") + FindCatalogueType(parsed.options.type)->displayName +
                       "\" is not supported by this build yet";
    parsed.options.file = read.Positionals().front();
    parsed.options.json = read.Flag("--json");
    return parsed;
}


CommandLine ScanCommandLine() {
    return CommandLine("scan")
        .Synopsis("velinor scan --receiver NAME|ID [--json] FILE|-")
        .About("Reads a recorded receiver stream the way the receiver family does: the first time-tagged\n"
               "message near the start of the recording, and the last one in its final 8 KiB. Prints both\n"
               "as GPS week and seconds of week and as date and time (GPS and UTC), whether the stream\n"
               "carried the GPS week, and how many messages the scan framed. The file is read as a stream:\n"
               "recordings of any size are fine. - reads standard input (a pipe), keeping only its last\n"
               "8 KiB as it reads. A device such as a serial port is no recording: 'velinor identify --port\n"
               "PORT' finds what talks on a live port.\n")
        .Valued("--receiver", "NAME|ID", "receiver type: id or name from 'velinor receivers'")
        .Flag("--json", "print the same as one JSON document (see docs/json.md): each time as week, seconds of "
                        "week and ISO-8601 GPS and UTC")
        .Positionals(1)
        .Footer("Exit codes: 0 messages were framed, 1 nothing was framed (or the family has no time scan),\n"
                "2 usage error, 3 the file cannot be read or is no recording.\n");
}

int RunScan(const Words& words) {
    const Parsed<ScanOptions> parsed = ParseScan(words);
    if (const auto ending = ParseEnding(ScanCommandLine(), parsed)) return *ending;
    const ScanResult result = Scan(parsed.options);
    return parsed.options.json ? PrintScanJson(parsed.options, result) : PrintScanText(parsed.options, result);
}
