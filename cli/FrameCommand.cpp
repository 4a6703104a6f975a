#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

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
#include "log/Logs.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KMessageReader.h"

namespace {

constexpr const char* kClient = "Frame";

struct FrameResult {
    size_t messages = 0;
    size_t bytes = 0;
    size_t errors = 0;
    bool framed = false;  // read through, whatever it held
    std::string failure;  // the file or the log that could not be used
};

std::string Hex(const StreamMessage& message) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(static_cast<size_t>(message.length) * 2);
    for (int32_t i = 0; i < message.length; ++i) {
        hex += digits[message.data[static_cast<size_t>(i)] >> 4];
        hex += digits[message.data[static_cast<size_t>(i)] & 0x0F];
    }
    return hex;
}

// The name column: printable and without blanks, so that the columns stay four ("?" for none).
std::string NameColumn(const std::string& name) {
    std::string column = PrintableText(name.empty() ? "?" : name);
    for (char& c : column)
        if (c == ' ') c = '_';
    return column;
}

// The time column: "gps:2021-12-09T20:41:41.811", "tow:420096.811" or "-".
std::string TimeColumn(const KMessageFacts& facts) {
    if (facts.time == KMessageFacts::Time::None) return "-";
    if (facts.time == KMessageFacts::Time::OfWeek) {
        char text[32];
        std::snprintf(text, sizeof text, "tow:%.3f", ShownSecondsOfWeek(facts.gps));
        return text;
    }
    const JsonValue calendar = JsonCalendar(facts.gps);
    return calendar.is_string() ? "gps:" + calendar.get<std::string>() : "-";
}

std::string JsonLine(const KMessageFacts& facts, const StreamMessage& message) {
    JsonValue time;
    if (facts.time != KMessageFacts::Time::None) {
        time = JsonGpsTime(facts.gps, facts.time == KMessageFacts::Time::Full);
        time["toldIn"] = TimeScaleName(facts.told);
    }
    const JsonValue line = {{"name", facts.name}, {"length", message.length}, {"time", time}, {"hex", Hex(message)}};
    return line.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
}

// One delivered message as a line of the format asked for.
std::string MessageLine(FrameFormat format, KMessageReader& reader, const StreamMessage& message) {
    if (format == FrameFormat::Hex) return std::to_string(message.length) + ' ' + Hex(message) + '\n';
    const KMessageFacts facts = reader.Read(message);
    if (format == FrameFormat::Json) return JsonLine(facts, message);
    return NameColumn(facts.name) + ' ' + std::to_string(message.length) + ' ' + TimeColumn(facts) + ' ' +
           Hex(message) + '\n';
}

// Frames the whole recording, each message handed to `deliver` as it comes.
FrameResult Frame(const FrameOptions& options, const std::function<void(const StreamMessage&)>& deliver) {
    FrameResult result;
    KRecordedComm link = OpenRecording(options.file, 0, result.failure);
    if (!result.failure.empty()) return result;
    if (options.streamErrors) {
        result.failure = StreamErrorLogRefusal(kClient);
        if (!result.failure.empty()) return result;
        SetStreamErrorLogEnabled(true);
    }
    SetStreamErrorObserver([&result](const std::string&, const std::string&) { ++result.errors; });
    const std::unique_ptr<KStreamMonitor> monitor = options.family->protocol.createMonitor();
    link.Open(0);
    FrameRecording(*monitor, link, kClient, [&](const StreamMessage& message) {
        deliver(message);
        ++result.messages;
        result.bytes += static_cast<size_t>(message.length);
    });
    result.framed = true;
    SetStreamErrorObserver(nullptr);
    result.failure = StreamErrorLogLossText();
    return result;
}

int PrintFrameResult(const FrameResult& result) {
    std::fflush(stdout);
    if (result.framed)
        std::fprintf(stderr, "%zu messages, %zu bytes, %zu errors\n", result.messages, result.bytes, result.errors);
    if (result.failure.empty()) return kExitConfirmed;
    std::fprintf(stderr, "velinor frame: %s\n", PrintableText(result.failure).c_str());
    return kExitPortError;
}

} // namespace

Parsed<FrameOptions> ParseFrame(const Words& words) {
    const ParsedWords read = FrameCommandLine().Parse(words);
    Parsed<FrameOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    if (read.Positionals().size() != 1 || !read.Has("--protocol")) {
        parsed.error = "needs --protocol NAME and one FILE";
        return parsed;
    }
    if (read.Flag("--hex") && read.Flag("--json")) {
        parsed.error = "--hex and --json exclude each other";
        return parsed;
    }
    parsed.options.family = ChooseProtocol(read.Value("--protocol"), parsed.error);
    parsed.options.file = read.Positionals().front();
    parsed.options.format = read.Flag("--hex") ? FrameFormat::Hex : read.Flag("--json") ? FrameFormat::Json
                                                                                        : FrameFormat::Named;
    parsed.options.streamErrors = read.Flag("--stream-errors");
    return parsed;
}

CommandLine FrameCommandLine() {
    return CommandLine("frame")
        .Synopsis("velinor frame --protocol NAME [--hex | --json] [--stream-errors] FILE|-")
        .About("Frames a recorded receiver stream with the protocol's framer and prints one line per\n"
               "delivered message: its name (the message id or name the maker's interface description\n"
               "gives), its length in decimal, its time where it carries one, and its bytes in lower-case\n"
               "hex, separated by spaces. A time is gps:YYYY-MM-DDThh:mm:ss.sss (on the GPS scale, whatever\n"
               "scale the message told it in), tow:SECONDS for a time of week whose week the stream has not\n"
               "told, or - for none. A summary (messages, bytes, errors) goes to standard error. FILE is a\n"
               "recording (a regular file); - reads standard input, so that a pipe works. A device such as\n"
               "a serial port is no recording: 'velinor identify --port PORT' finds what talks on a live\n"
               "port.\n")
        .Valued("--protocol", "NAME",
                ProtocolNamesText(" or ") + "; a family's name is taken for its protocol, in any case")
        .Flag("--hex", "only the length and the hex bytes, one message a line")
        .Flag("--json", "one JSON object a line per message: \"name\", \"length\", \"time\" (null, or \"week\", "
                        "\"secondsOfWeek\", \"gps\", \"utc\" and \"toldIn\", GPS or UTC; week, gps and utc null for "
                        "a time of week alone) and \"hex\"")
        .Flag("--stream-errors", "write the stream error log (QuorvexStreamErrors_Frame_*.log) in the current folder")
        .Positionals(1)
        .Footer("Exit codes: 0 the recording was framed (whatever it held, even nothing), 2 usage error,\n"
                "3 the file cannot be read or is no recording (a folder, a device), or the stream error log\n"
                "asked for cannot be written.\n");
}

int RunFrame(const Words& words) {
    const Parsed<FrameOptions> parsed = ParseFrame(words);
    if (const auto ending = ParseEnding(FrameCommandLine(), parsed)) return *ending;
    const std::unique_ptr<KMessageReader> reader = parsed.options.family->protocol.createReader();
    const FrameResult result = Frame(parsed.options, [&](const StreamMessage& message) {
        const std::string line = MessageLine(parsed.options.format, *reader, message);
        std::fwrite(line.data(), 1, line.size(), stdout);
    });
    return PrintFrameResult(result);
}
