#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/ReceiverChoice.h"
#include "cli/RecordingPass.h"
#include "cli/RecordingInput.h"
#include "cli/TimeText.h"
#include "comm/KPrintableText.h"
#include "comm/KRecordedComm.h"
#include "families/KReceiverFamily.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KMessageReader.h"

namespace {

constexpr const char* kHelp =
    "usage: velinor scan --receiver NAME|ID [--json] FILE|-\n"
    "\n"
    "Reads a whole recorded receiver stream with the family's framer and reads a time from every\n"
    "message of the family's protocol that carries one (a GPS week and time of week, or a UTC date\n"
    "and time). Prints the first and last time as GPS week and seconds of week and as date and\n"
    "time (GPS and UTC), the scale the stream told them in, which messages the times came from\n"
    "and how many messages were framed. A stream that tells times of week but never its week\n"
    "gives those, with the week unknown. The file is read as a stream: recordings of any size are\n"
    "fine. - reads standard input (a pipe). A device such as a serial port is no recording:\n"
    "'velinor identify --port PORT' finds what talks on a live port. --json prints the same as one\n"
    "JSON document (see docs/json.md).\n"
    "\n"
    "Exit codes: 0 a time was found, 1 messages were framed but none carried a time (the messages\n"
    "looked for and those found are listed), or nothing was framed, 2 usage error, 3 the file\n"
    "cannot be read or is no recording (a folder, a device).\n";

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

// A stream of text lines may name a message after each line's first field: the refusal keeps
// to the first few names.
constexpr size_t kNamesShown = 12;

JsonValue JsonCounts(const NameCounts& counts) {
    JsonValue out = JsonValue::array();
    for (const auto& [name, count] : counts) out.push_back({{"name", name}, {"count", count}});
    return out;
}

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
    if (!family->protocol.createReader || !family->protocol.createMonitor)
        return fail("no-time-scan", name + " receivers have no time scan: this build cannot read their messages.",
                    kExitNotConfirmed);

    KRecordedComm link = OpenRecording(path, 0, error);
    if (!error.empty()) return fail("file", error, kExitPortError);
    link.Open(0);
    const std::unique_ptr<KStreamMonitor> monitor = family->protocol.createMonitor();
    const std::unique_ptr<KMessageReader> reader = family->protocol.createReader();
    const RecordingTimes times = ReadRecordingTimes(*monitor, link, *reader);
    link.Seek(0, 2);  // a stream's size is known at its end

    const bool weekKnown = times.gotFull;
    const KGPSTime& first = weekKnown ? times.first : times.firstOfWeek;
    const KGPSTime& last = weekKnown ? times.last : times.lastOfWeek;
    std::vector<std::string> scales;
    for (const KTimeScale scale : times.scales) scales.emplace_back(TimeScaleName(scale));
    document["bytes"] = link.Size();
    document["messagesFramed"] = times.messages;
    document["lookedFor"] = reader->TimeMessages();
    document["timeMessages"] = JsonCounts(times.timeNames);
    document["messages"] = JsonCounts(times.names);
    const std::string nothingFramed = std::string("No ") + family->name + " message was framed.";
    const std::string noTime = "No time in the recording: looked for " + NamesText(reader->TimeMessages()) +
                               "; found " + CountsText(times.names, kNamesShown) + ".";
    if (json) {
        if (times.messages == 0) return fail("nothing-framed", nothingFramed, kExitNotConfirmed);
        if (!times.Found()) return fail("no-time", noTime, kExitNotConfirmed);
        document["first"] = FoundTime(true, first, weekKnown);
        document["last"] = FoundTime(true, last, weekKnown);
        document["weekUnknown"] = !weekKnown;
        document["toldIn"] = scales;
        PrintJson(document);
        return kExitConfirmed;
    }
    std::printf("%s: %llu bytes, read as %s (%s family)\n", PrintableText(path).c_str(),
                static_cast<unsigned long long>(link.Size()), name.c_str(), family->name);
    if (times.messages == 0) return fail("nothing-framed", nothingFramed, kExitNotConfirmed);
    std::printf("messages framed: %llu\n", static_cast<unsigned long long>(times.messages));
    if (!times.Found()) return fail("no-time", noTime, kExitNotConfirmed);
    std::printf("first: %s\n", GpsTimeText(first, weekKnown).c_str());
    std::printf("last:  %s\n", GpsTimeText(last, weekKnown).c_str());
    if (weekKnown)
        std::printf("told in: %s time\n", NamesText(scales).c_str());
    else
        std::printf("GPS week: unknown (the stream's times carry no week)\n");
    std::printf("time messages: %s\n", CountsText(times.timeNames, kNamesShown).c_str());
    return kExitConfirmed;
}
