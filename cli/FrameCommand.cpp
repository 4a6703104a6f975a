#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/CliArgs.h"
#include "cli/JsonOutput.h"
#include "cli/RecordingPass.h"
#include "cli/TimeText.h"
#include "cli/Commands.h"
#include "cli/RecordingInput.h"
#include "comm/KPrintableText.h"
#include "comm/KRecordedComm.h"
#include "families/KReceiverFamily.h"
#include "log/Logs.h"
#include "monitors/KStreamMonitor.h"
#include "receivers/KMessageReader.h"

namespace {

constexpr const char* kClient = "Frame";

std::string Help() {
    return "usage: velinor frame --protocol NAME FILE|- [--hex | --json] [--stream-errors]\n"
    "\n"
    "Frames a recorded receiver stream with the protocol's framer and prints one line per\n"
    "delivered message: its name (the message id or name the maker's interface description\n"
    "gives), its length in decimal, its time where it carries one, and its bytes in lower-case\n"
    "hex, separated by spaces. A time is gps:YYYY-MM-DDThh:mm:ss.sss (on the GPS scale, whatever\n"
    "scale the message told it in), tow:SECONDS for a time of week whose week the stream has not\n"
    "told, or - for none. A summary (messages, bytes, errors) goes to standard error. FILE is a\n"
    "recording (a regular file); - reads standard input, so that a pipe works. A device such as\n"
    "a serial port is no recording: 'velinor identify --port PORT' finds what talks on a live\n"
    "port.\n"
    "\n"
    "  --protocol NAME   " + ProtocolNamesText(" or ") + "\n"
    "  --hex             only the length and the hex bytes, one message a line\n"
    "  --json            one JSON object a line per message: \"name\", \"length\", \"time\" (null,\n"
    "                    or \"week\", \"secondsOfWeek\", \"gps\", \"utc\" and \"toldIn\", GPS or UTC;\n"
    "                    week, gps and utc null for a time of week alone) and \"hex\"\n"
    "  --stream-errors   write the stream error log (QuorvexStreamErrors_Frame_*.log) here\n"
    "\n"
    "Exit codes: 0 the recording was framed (whatever it held, even nothing), 2 usage error,\n"
    "3 the file cannot be read or is no recording (a folder, a device), or the stream error log\n"
    "asked for cannot be written.\n";
}

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

int Fail(const std::string& message) {
    std::fprintf(stderr, "velinor frame: %s\n", PrintableText(message).c_str());
    return kExitPortError;
}

} // namespace

int RunFrame(const Words& words) {
    const CliArgs args(words, {"--protocol"}, {"--stream-errors", "--help", "--hex", "--json"});
    if (args.Flag("--help")) {
        std::fputs(Help().c_str(), stdout);
        return kExitConfirmed;
    }
    const bool hexOnly = args.Flag("--hex");
    const bool json = args.Flag("--json");
    if (!args.Ok() || args.Positionals().size() != 1 || !args.Has("--protocol") || (hexOnly && json)) {
        const std::string problem = !args.Ok()                          ? args.Error()
                                    : hexOnly && json                   ? "--hex and --json exclude each other"
                                                                        : "needs --protocol NAME and one FILE";
        std::fprintf(stderr, "velinor frame: %s\n%s", problem.c_str(), Help().c_str());
        return kExitUsage;
    }
    const std::string protocol = args.Value("--protocol");
    std::unique_ptr<KStreamMonitor> monitor = CreateStreamMonitor(protocol);
    const std::unique_ptr<KMessageReader> reader = CreateMessageReader(protocol);
    if (!monitor || !reader) {
        std::fprintf(stderr, "velinor frame: unknown protocol '%s' (%s)\n", PrintableText(protocol).c_str(),
                     ProtocolNamesText(", ").c_str());
        return kExitUsage;
    }
    std::string error;
    KRecordedComm link = OpenRecording(args.Positionals().front(), 0, error);
    if (!error.empty()) return Fail(error);
    if (args.Flag("--stream-errors")) {
        if (const std::string refusal = StreamErrorLogRefusal(kClient); !refusal.empty()) return Fail(refusal);
        SetStreamErrorLogEnabled(true);
    }
    size_t errors = 0;
    SetStreamErrorObserver([&errors](const std::string&, const std::string&) { ++errors; });

    link.Open(0);
    size_t messages = 0;
    size_t bytes = 0;
    std::string line;
    FrameRecording(*monitor, link, kClient, [&](const StreamMessage& message) {
        if (hexOnly) {
            line = std::to_string(message.length) + ' ' + Hex(message) + '\n';
        } else {
            const KMessageFacts facts = reader->Read(message);
            if (json) {
                line = JsonLine(facts, message);
            } else {
                line = NameColumn(facts.name) + ' ' + std::to_string(message.length) + ' ' + TimeColumn(facts) + ' ' +
                       Hex(message) + '\n';
            }
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
        ++messages;
        bytes += static_cast<size_t>(message.length);
    });
    SetStreamErrorObserver(nullptr);
    std::fflush(stdout);
    std::fprintf(stderr, "%zu messages, %zu bytes, %zu errors\n", messages, bytes, errors);
    if (const std::string lost = StreamErrorLogLossText(); !lost.empty()) return Fail(lost);
    return kExitConfirmed;
}
