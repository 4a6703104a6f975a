#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/ReceiverChoice.h"
#include "cli/RecordingInput.h"
#include "comm/KPrintableText.h"
#include "comm/KRecordedComm.h"
#include "families/KReceiverFamily.h"
#include "log/Logs.h"
#include "monitors/KStreamMonitor.h"

namespace {

constexpr const char* kClient = "Frame";

struct FrameResult {
    size_t messages = 0;
    size_t bytes = 0;
    size_t errors = 0;
    bool framed = false;  // read through, whatever it held
    std::string failure;  // the file or the log that could not be used
};

// One delivered message: its length in decimal, a space, its bytes in lower-case hex.
void PrintMessage(const StreamMessage& message) {
    static const char digits[] = "0123456789abcdef";
    std::string line = std::to_string(message.length) + ' ';
    for (int32_t i = 0; i < message.length; ++i) {
        line += digits[message.data[static_cast<size_t>(i)] >> 4];
        line += digits[message.data[static_cast<size_t>(i)] & 0x0F];
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

// Frames the whole recording, each message handed to `deliver` as it comes.
void FrameAll(KRecordedComm& link, KStreamMonitor& monitor, FrameResult& result,
              const std::function<void(const StreamMessage&)>& deliver) {
    link.Open(0);
    monitor.Start(&link, false, kClient);
    uint64_t stalledAt = UINT64_MAX;
    for (;;) {
        const bool progressed = monitor.ReadStep();
        while (auto message = monitor.PopMessage()) {
            deliver(*message);
            ++result.messages;
            result.bytes += static_cast<size_t>(message->length);
        }
        if (progressed) continue;
        // A step that made no progress either ran out of input or gave up on a frame; only the
        // same position twice in a row means nothing more can come.
        if (link.AtEnd() || link.Position() == stalledAt) break;
        stalledAt = link.Position();
    }
    monitor.Stop();
}

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
    FrameAll(link, *monitor, result, deliver);
    result.framed = true;
    SetStreamErrorObserver(nullptr);
    result.failure = StreamErrorLogLossText();
    return result;
}

int PrintFrameResult(const FrameResult& result) {
    std::fflush(stdout);
    if (result.framed) std::fprintf(stderr, "%zu messages, %zu bytes, %zu errors\n", result.messages, result.bytes, result.errors);
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
    parsed.options.family = ChooseProtocol(read.Value("--protocol"), parsed.error);
    parsed.options.file = read.Positionals().front();
    parsed.options.streamErrors = read.Flag("--stream-errors");
    return parsed;
}


CommandLine FrameCommandLine() {
    return CommandLine("frame")
        .Synopsis("velinor frame --protocol NAME [--stream-errors] FILE|-")
        .About("Frames a recorded receiver stream with the protocol's framer and prints one line per\n"
               "delivered message: its length in decimal, a space, its bytes in lower-case hex.\n"
               "A summary (messages, bytes, errors) goes to standard error. FILE is a recording (a regular\n"
               "file); - reads standard input, so that a pipe works. A device such as a serial port is no\n"
               "recording: 'velinor identify --port PORT' finds what talks on a live port.\n")
        .Valued("--protocol", "NAME",
                ProtocolNamesText(" or ") + "; a family's name is taken for its protocol (leica for lb2), in any case")
        .Flag("--stream-errors", "write the stream error log (QuorvexStreamErrors_Frame_*.log) in the current folder")
        .Positionals(1)
        .Footer("Exit codes: 0 the recording was framed (whatever it held), 2 usage error, 3 the file cannot\n"
                "be read or is no recording, or the stream error log asked for cannot be written.\n");
}

int RunFrame(const Words& words) {
    const Parsed<FrameOptions> parsed = ParseFrame(words);
    if (const auto ending = ParseEnding(FrameCommandLine(), parsed)) return *ending;
    const FrameResult result = Frame(parsed.options, PrintMessage);
    return PrintFrameResult(result);
}
