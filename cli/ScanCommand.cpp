#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/ReceiverChoice.h"
#include "cli/RecordingInput.h"
#include "cli/RecordingPass.h"
#include "cli/TimeText.h"
#include "comm/KPrintableText.h"
#include "comm/KRecordedComm.h"
#include "families/KReceiverFamily.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KMessageReader.h"

namespace {

struct ScanResult {
    const KReceiverFamily* family = nullptr;
    std::string failureKind;  // "no-time-scan", "file", "nothing-framed", "no-time"; empty for an answer
    std::string failure;
    uint64_t bytes = 0;
    RecordingTimes times;
    std::vector<std::string> lookedFor;  // the messages a time is read from
};

// A stream of text lines may name a message after each line's first field: the refusal keeps
// to the first few names.
constexpr size_t kNamesShown = 12;

// "RMC (16), ZDA (15)"; "none" for no names.
std::string CountsText(const NameCounts& counts, size_t most = SIZE_MAX) {
    std::string text;
    for (size_t i = 0; i < counts.size() && i < most; ++i)
        text += (i ? ", " : "") + PrintableText(counts[i].first) + " (" + std::to_string(counts[i].second) + ")";
    if (counts.size() > most) text += " and " + std::to_string(counts.size() - most) + " more";
    return text.empty() ? "none" : text;
}

std::string NamesText(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
    return text;
}

void ReadTimes(const ScanOptions& options, ScanResult& result) {
    KRecordedComm link = OpenRecording(options.file, 0, result.failure);
    if (!result.failure.empty()) {
        result.failureKind = "file";
        return;
    }
    link.Open(0);
    const std::unique_ptr<KStreamMonitor> monitor = result.family->protocol.createMonitor();
    const std::unique_ptr<KMessageReader> reader = result.family->protocol.createReader();
    result.times = ReadRecordingTimes(*monitor, link, *reader);
    result.lookedFor = reader->TimeMessages();
    link.Seek(0, 2);  // a stream's size is known at its end
    result.bytes = link.Size();
    if (result.times.messages == 0) {
        result.failureKind = "nothing-framed";
        result.failure = std::string("No ") + result.family->name + " message was framed.";
    } else if (!result.times.Found()) {
        result.failureKind = "no-time";
        result.failure = "No time in the recording: looked for " + NamesText(result.lookedFor) + "; found " +
                         CountsText(result.times.names, kNamesShown) + ".";
    }
}

ScanResult Scan(const ScanOptions& options) {
    ScanResult result;
    result.family = FamilyOfType(options.type);
    if (!result.family->protocol.createReader || !result.family->protocol.createMonitor) {
        result.failureKind = "no-time-scan";
        result.failure = std::string(FindCatalogueType(options.type)->displayName) +
                         " receivers have no time scan: this build cannot read their messages.";
        return result;
    }
    ReadTimes(options, result);
    return result;
}

// Whether the failure comes before anything was read: no "bytes" or counts to show with it.
bool FailedBeforeReading(const ScanResult& result) {
    return result.failureKind == "no-time-scan" || result.failureKind == "file";
}

int FailureExit(const ScanResult& result) {
    return result.failureKind == "file" ? kExitPortError : kExitNotConfirmed;
}

// A time the scan looked for: "found" and, when found, its JsonGpsTime fields (else null).
JsonValue FoundTime(bool found, const KGPSTime& time, bool weekKnown) {
    JsonValue out = {{"found", found}};
    const JsonValue fields = JsonGpsTime(time, weekKnown);
    for (const auto& [key, value] : fields.items()) out[key] = found ? value : JsonValue();
    return out;
}

JsonValue JsonCounts(const NameCounts& counts) {
    JsonValue out = JsonValue::array();
    for (const auto& [name, count] : counts) out.push_back({{"name", name}, {"count", count}});
    return out;
}

std::vector<std::string> ScaleNames(const RecordingTimes& times) {
    std::vector<std::string> scales;
    for (const KTimeScale scale : times.scales) scales.emplace_back(TimeScaleName(scale));
    return scales;
}

int PrintScanJson(const ScanOptions& options, const ScanResult& result) {
    JsonValue document = {{"file", options.file}, {"receiver", JsonReceiverType(options.type)}};
    if (!FailedBeforeReading(result)) {
        document["bytes"] = result.bytes;
        document["messagesFramed"] = result.times.messages;
        document["lookedFor"] = result.lookedFor;
        document["timeMessages"] = JsonCounts(result.times.timeNames);
        document["messages"] = JsonCounts(result.times.names);
    }
    if (!result.failureKind.empty())
        return PrintFailure(true, document, "scan", result.failureKind, result.failure, FailureExit(result));
    const bool weekKnown = result.times.gotFull;
    document["first"] = FoundTime(true, weekKnown ? result.times.first : result.times.firstOfWeek, weekKnown);
    document["last"] = FoundTime(true, weekKnown ? result.times.last : result.times.lastOfWeek, weekKnown);
    document["weekUnknown"] = !weekKnown;
    document["toldIn"] = ScaleNames(result.times);
    PrintJson(document);
    return kExitConfirmed;
}

int PrintScanText(const ScanOptions& options, const ScanResult& result) {
    if (FailedBeforeReading(result))
        return PrintFailure(false, {}, "scan", result.failureKind, result.failure, FailureExit(result));
    std::printf("%s: %llu bytes, read as %s (%s family)\n", PrintableText(options.file).c_str(),
                static_cast<unsigned long long>(result.bytes), FindCatalogueType(options.type)->displayName,
                result.family->name);
    if (result.times.messages != 0)
        std::printf("messages framed: %llu\n", static_cast<unsigned long long>(result.times.messages));
    if (!result.failureKind.empty())
        return PrintFailure(false, {}, "scan", result.failureKind, result.failure, FailureExit(result));
    const RecordingTimes& times = result.times;
    const bool weekKnown = times.gotFull;
    std::printf("first: %s\n", GpsTimeText(weekKnown ? times.first : times.firstOfWeek, weekKnown).c_str());
    std::printf("last:  %s\n", GpsTimeText(weekKnown ? times.last : times.lastOfWeek, weekKnown).c_str());
    if (weekKnown)
        std::printf("told in: %s time\n", NamesText(ScaleNames(times)).c_str());
    else
        std::printf("GPS week: unknown (the stream's times carry no week)\n");
    std::printf("time messages: %s\n", CountsText(times.timeNames, kNamesShown).c_str());
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
        .About("Reads a whole recorded receiver stream with the family's framer and reads a time from every\n"
               "message of the family's protocol that carries one (a GPS week and time of week, or a UTC date\n"
               "and time). Prints the first and last time as GPS week and seconds of week and as date and\n"
               "time (GPS and UTC), the scale the stream told them in, which messages the times came from\n"
               "and how many messages were framed. A stream that tells times of week but never its week\n"
               "gives those, with the week unknown. The file is read as a stream: recordings of any size are\n"
               "fine. - reads standard input (a pipe). A device such as a serial port is no recording:\n"
               "'velinor identify --port PORT' finds what talks on a live port.\n")
        .Valued("--receiver", "NAME|ID", "receiver type: id or name from 'velinor receivers'")
        .Flag("--json", "print the same as one JSON document (see docs/json.md)")
        .Positionals(1)
        .Footer("Exit codes: 0 a time was found, 1 messages were framed but none carried a time (the messages\n"
                "looked for and those found are listed), or nothing was framed, 2 usage error, 3 the file\n"
                "cannot be read or is no recording (a folder, a device).\n");
}

int RunScan(const Words& words) {
    const Parsed<ScanOptions> parsed = ParseScan(words);
    if (const auto ending = ParseEnding(ScanCommandLine(), parsed)) return *ending;
    const ScanResult result = Scan(parsed.options);
    return parsed.options.json ? PrintScanJson(parsed.options, result) : PrintScanText(parsed.options, result);
}
