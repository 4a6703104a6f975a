#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/RecordingInput.h"
#include "comm/KPrintableText.h"
#include "comm/KRecordedComm.h"
#include "log/Logs.h"
#include "monitors/KMonitorFactory.h"

namespace {

constexpr const char* kClient = "Frame";

constexpr const char* kHelp =
    "usage: velinor frame --protocol NAME FILE|- [--stream-errors]\n"
    "\n"
    "Frames a recorded receiver stream with the protocol's framer and prints one line per\n"
    "delivered message: its length in decimal, a space, its bytes in lower-case hex.\n"
    "A summary (messages, bytes, errors) goes to standard error. FILE is a recording (a regular\n"
    "file); - reads standard input, so that a pipe works. A device such as a serial port is no\n"
    "recording: 'velinor identify --port PORT' finds what talks on a live port.\n"
    "\n"
    "  --protocol NAME   ashtech, lb2, navcom, nmea, novatel, sbf, sirf, topcon, trimble or ubx\n"
    "  --stream-errors   write the stream error log (QuorvexStreamErrors_Frame_*.log) here\n"
    "\n"
    "Exit codes: 0 the recording was framed (whatever it held), 2 usage error, 3 the file cannot\n"
    "be read or is no recording, or the stream error log asked for cannot be written.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "velinor frame: %s\n", PrintableText(message).c_str());
    return kExitPortError;
}

} // namespace

int RunFrame(const Words& words) {
    const CliArgs args(words, {"--protocol"}, {"--stream-errors", "--help"});
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        return kExitConfirmed;
    }
    if (!args.Ok() || args.Positionals().size() != 1 || !args.Has("--protocol")) {
        std::fprintf(stderr, "velinor frame: %s\n%s", args.Ok() ? "needs --protocol NAME and one FILE" : args.Error().c_str(),
                     kHelp);
        return kExitUsage;
    }
    const std::string protocol = args.Value("--protocol");
    std::unique_ptr<KStreamMonitor> monitor = CreateStreamMonitor(protocol);
    if (!monitor) {
        std::fprintf(stderr, "velinor frame: unknown protocol '%s' (ashtech, lb2, navcom, nmea, novatel, sbf, sirf, topcon, trimble, ubx)\n",
                     PrintableText(protocol).c_str());
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
    monitor->Start(&link, false, kClient);
    size_t messages = 0;
    size_t bytes = 0;
    std::string line;
    static const char digits[] = "0123456789abcdef";
    uint64_t stalledAt = UINT64_MAX;
    for (;;) {
        const bool progressed = monitor->ReadStep();
        while (auto message = monitor->PopMessage()) {
            line = std::to_string(message->length);
            line += ' ';
            for (int32_t i = 0; i < message->length; ++i) {
                line += digits[message->data[static_cast<size_t>(i)] >> 4];
                line += digits[message->data[static_cast<size_t>(i)] & 0x0F];
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
            ++messages;
            bytes += static_cast<size_t>(message->length);
        }
        if (progressed) continue;
        // A step that made no progress either ran out of input or gave up on a frame; only the
        // same position twice in a row means nothing more can come.
        if (link.AtEnd() || link.Position() == stalledAt) break;
        stalledAt = link.Position();
    }
    monitor->Stop();
    SetStreamErrorObserver(nullptr);
    std::fflush(stdout);
    std::fprintf(stderr, "%zu messages, %zu bytes, %zu errors\n", messages, bytes, errors);
    if (const std::string lost = StreamErrorLogLossText(); !lost.empty()) return Fail(lost);
    return kExitConfirmed;
}
