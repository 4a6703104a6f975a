#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/PortChoice.h"
#include "cli/SessionRunner.h"
#include "cli/StopRequest.h"
#include "comm/KBaudRates.h"
#include "comm/KConsole.h"
#include "comm/KNetworkComm.h"
#include "comm/KPrintableText.h"
#include "comm/KSerialComm.h"
#include "families/KReceiverFamily.h"
#include "session/KLineWatch.h"
#include "session/KReceiverIdentifier.h"
#include "time/KClock.h"

namespace {

// The family a protocol's messages tell of: none for one that many makers' receivers share.
const char* FamilyShown(const KLineWatch::Protocol& protocol) {
    return protocol.family->protocol.listeningProves ? protocol.family->name : nullptr;
}

constexpr int32_t kReadPauseMs = 50;
constexpr int32_t kRedrawMs = 500;


double PerSecond(uint64_t messages, int64_t watchedMs) {
    return static_cast<double>(messages) * 1000.0 / static_cast<double>(watchedMs < 1000 ? 1000 : watchedMs);
}

// The table, one line per message id under its protocol's first.
std::vector<std::string> TableLines(const KLineWatch& watch, const std::string& port, int32_t baud, int64_t watchedMs) {
    std::vector<std::string> lines;
    char text[160];
    std::snprintf(text, sizeof text, "%s at %d baud: %.1f s, %llu bytes", port.c_str(), baud, watchedMs / 1000.0,
                  static_cast<unsigned long long>(watch.Bytes()));
    lines.push_back(text);
    const auto heard = watch.Heard();
    if (heard.empty()) {
        lines.push_back(watch.Bytes() ? "  no protocol recognised yet" : "  nothing heard yet");
        return lines;
    }
    std::snprintf(text, sizeof text, "  %-8s %-10s %-12s %9s %8s %10s", "protocol", "family", "message", "count",
                  "per s", "bytes");
    lines.push_back(text);
    for (const KLineWatch::Protocol* protocol : heard) {
        bool first = true;
        for (const KLineWatch::Kind& kind : protocol->kinds) {
            std::snprintf(text, sizeof text, "  %-8s %-10s %-12s %9llu %8.2f %10llu",
                          first ? protocol->family->protocol.name : "",
                          first ? (FamilyShown(*protocol) ? FamilyShown(*protocol) : "-") : "",
                          PrintableText(kind.id.empty() ? "-" : kind.id).c_str(),
                          static_cast<unsigned long long>(kind.messages), PerSecond(kind.messages, watchedMs),
                          static_cast<unsigned long long>(kind.bytes));
            lines.push_back(text);
            first = false;
        }
    }
    return lines;
}

JsonValue Document(const KLineWatch& watch, const PortChoice& port, int32_t baud, bool searched, int64_t watchedMs) {
    JsonValue document = {{"port", port.display}, {"baud", baud}, {"searched", searched}};
    document["heard"] = !watch.Heard().empty();
    document["milliseconds"] = watchedMs;
    document["bytes"] = watch.Bytes();
    JsonValue protocols = JsonValue::array();
    for (const KLineWatch::Protocol* protocol : watch.Heard()) {
        JsonValue messages = JsonValue::array();
        for (const KLineWatch::Kind& kind : protocol->kinds)
            messages.push_back({{"id", kind.id},
                                {"count", kind.messages},
                                {"bytes", kind.bytes},
                                {"perSecond", PerSecond(kind.messages, watchedMs)},
                                {"firstMilliseconds", kind.firstMs},
                                {"lastMilliseconds", kind.lastMs}});
        protocols.push_back({{"protocol", protocol->family->protocol.name},
                             {"family", FamilyShown(*protocol) ? JsonValue(FamilyShown(*protocol)) : JsonValue(nullptr)},
                             {"count", protocol->messages},
                             {"bytes", protocol->bytes},
                             {"messages", messages}});
    }
    document["protocols"] = protocols;
    return document;
}

// A port error said the way the command was asked for.
int PortFailed(bool json, const PortChoice& port, const std::string& message) {
    if (!json) {
        if (!message.empty()) std::fprintf(stderr, "velinor watch: %s\n", PrintableText(message).c_str());
        return kExitPortError;
    }
    JsonValue document = {{"port", port.display}, {"heard", false}};
    document["error"] = JsonError("port-open", message.empty() ? OpenFailureText(LastOpenFailure()) : message);
    document["error"]["remedy"] = JsonTextOrNull(message.empty() ? LastOpenFailure().remedy : "");
    PrintJson(document);
    return kExitPortError;
}

// Listens at one rate after another, as identify does, until a protocol is heard: that rate,
// or 0 when none was heard (or a stop was asked for); -1 when the port failed.
int32_t SearchRate(KSerialComm& link, bool json) {
    const KReceiverIdentifier::Options options;
    for (int32_t rate : KReceiverIdentifier::SearchOrder()) {
        if (StopRequest::Requested()) break;
        if (!json) std::fprintf(stderr, "velinor watch: listening at %d baud\n", rate);
        link.BaudRate = rate;
        // The port stays claimed from one rate to the next.
        if (!(link.IsOpen() ? link.Reopen(rate) : link.Open(0))) return -1;
        KReceiverIdentifier::Heard heard;
        if (KReceiverIdentifier::ListenOn(link, rate, options, heard, [] { return StopRequest::Requested(); }))
            return rate;
    }
    return 0;
}

int PrintNothingHeard(bool json, const PortChoice& port) {
    const std::string shown = PrintableText(port.display);
    const std::string message = StopRequest::Requested() ? "stopped before any protocol was heard"
                                                         : "no protocol was heard at any rate on " + port.display;
    if (json) {
        JsonValue document = {{"port", port.display}, {"baud", nullptr}, {"searched", true}, {"heard", false}};
        document["milliseconds"] = 0;
        document["bytes"] = 0;
        document["protocols"] = JsonValue::array();
        PrintJson(document);
    } else {
        std::printf("%s; 'velinor identify --port %s' can ask the device, 'velinor doctor %s' checks the port\n",
                    PrintableText(message).c_str(), shown.c_str(), shown.c_str());
    }
    return kExitNotConfirmed;
}

// What the watch shows as it goes: the table redrawn in place on a terminal, else each message
// id once, when first heard.
struct WatchDisplay {
    bool json = false;
    bool live = false;
    std::string shown;
    int32_t rate = 0;
    int64_t drawn = 0;
    size_t drawnLines = 0;
    size_t toldKinds = 0;

    void Update(const KLineWatch& watch, int64_t watchedMs, bool last) {
        if (live && (last || watchedMs - drawn >= kRedrawMs)) {
            drawn = watchedMs;
            const std::vector<std::string> lines = TableLines(watch, shown, rate, watchedMs);
            // Back over the last drawing, then the new one over it.
            if (drawnLines) std::printf("\033[%zuA", drawnLines);
            std::printf("\r\033[J");
            for (const std::string& line : lines) std::printf("%s\n", line.c_str());
            drawnLines = lines.size();
            std::fflush(stdout);
        } else if (!json && !live) {
            size_t kinds = 0;
            for (const KLineWatch::Protocol* protocol : watch.Heard())
                for (const KLineWatch::Kind& kind : protocol->kinds) {
                    if (kinds++ < toldKinds) continue;
                    std::printf("[%7.1f s] %s %s\n", kind.firstMs / 1000.0, protocol->family->protocol.name,
                                PrintableText(kind.id.empty() ? "-" : kind.id).c_str());
                }
            if (kinds > toldKinds) std::fflush(stdout);
            toldKinds = std::max(toldKinds, kinds);
        }
    }
};

// Feeds what arrives to `watch` until the time is up, a stop is asked for or the device goes
// (then true).
bool Watch(KSerialComm& link, KLineWatch& watch, WatchDisplay& display, long long seconds, int64_t& watchedMs) {
    KClock& clock = KClock::Current();
    const int64_t start = clock.NowMs();
    const int64_t limitMs = seconds * 1000;
    display.drawn = -kRedrawMs;
    uint8_t buffer[4096];
    for (;;) {
        for (int32_t n; (n = link.ReadAvailable(buffer, sizeof buffer)) > 0;)
            watch.Feed(buffer, static_cast<size_t>(n), clock.NowMs() - start);
        watchedMs = clock.NowMs() - start;
        const bool over = StopRequest::Requested() || (limitMs > 0 && watchedMs >= limitMs);
        const bool gone = link.DeviceGone();
        display.Update(watch, watchedMs, over || gone);
        if (over || gone) return gone;
        clock.Sleep(kReadPauseMs);
    }
}

int PrintWatch(const KLineWatch& watch, const WatchDisplay& display, const PortChoice& port, bool searched,
               int64_t watchedMs, bool gone) {
    if (display.json) {
        PrintJson(Document(watch, port, display.rate, searched, watchedMs));
    } else if (!display.live) {
        for (const std::string& line : TableLines(watch, display.shown, display.rate, watchedMs))
            std::printf("%s\n", line.c_str());
    }
    if (gone) {
        if (!display.json) std::fprintf(stderr, "velinor watch: device gone: %s (unplugged?)\n", display.shown.c_str());
        return kExitPortError;
    }
    return watch.Heard().empty() ? kExitNotConfirmed : kExitConfirmed;
}

// Opens the port at the rate given or found and watches it; the exit code.
int WatchPort(const WatchOptions& options, const PortChoice& port) {
    const std::unique_ptr<KSerialComm> owned = CreatePortLink(port.devicePath);
    KSerialComm& link = *owned;
    link.PortNumber = port.portNumber;
    link.DevicePath = port.devicePath;
    const bool searched = options.baud == 0;
    int32_t rate = static_cast<int32_t>(options.baud);
    if (searched) rate = SearchRate(link, options.json);
    if (!searched) link.BaudRate = rate;
    if (rate < 0 || (!searched && !link.Open(0))) return PortFailed(options.json, port, "");
    if (rate == 0) {
        link.Close();
        return PrintNothingHeard(options.json, port);
    }
    WatchDisplay display{options.json, !options.json && KConsole::IsTerminal(stdout), PrintableText(port.display), rate};
    if (!display.json && !display.live) std::printf("watching %s at %d baud\n", display.shown.c_str(), rate);
    KLineWatch watch;
    int64_t watchedMs = 0;
    const bool gone = Watch(link, watch, display, options.seconds, watchedMs);
    link.Close();
    return PrintWatch(watch, display, port, searched, watchedMs, gone);
}

} // namespace

Parsed<WatchOptions> ParseWatch(const Words& words) {
    const ParsedWords read = WatchCommandLine().Parse(words);
    Parsed<WatchOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    WatchOptions& options = parsed.options;
    options.port = read.Value("--port");
    options.json = read.Flag("--json");
    std::optional<long long> baud, seconds;
    if (!read.Has("--port"))
        parsed.error = "needs --port PORT";
    else if (!ReadInt(read, "--baud", 1, 10000000, baud) || (baud && !SystemSetsRate(static_cast<int32_t>(*baud))))
        parsed.error = "--baud must be a rate this system can set a port to, such as 9600 or 115200";
    else if (!ReadInt(read, "--seconds", 1, 86400LL * 365, seconds))
        parsed.error = "--seconds takes whole seconds";
    options.baud = baud.value_or(0);
    options.seconds = seconds.value_or(0);
    return parsed;
}

CommandLine WatchCommandLine() {
    return CommandLine("watch")
        .Synopsis("velinor watch --port PORT [--baud RATE] [--seconds N] [--json]")
        .About("Shows what the device on PORT sends, without sending it anything: the protocols heard, each\n"
               "message id with its count and rate, live. The way to check a receiver after 'velinor set'.\n"
               "Without --baud it first listens at every rate, as 'velinor identify --listen-only' does, and\n"
               "watches at the first where a protocol is heard. Only messages whose checks hold count; a\n"
               "protocol shows once two of its messages have been framed. On a terminal the table is redrawn\n"
               "in place; otherwise each message id is told when first heard and the table comes at the end.\n"
               "Plain NMEA, which many makers' receivers send, shows under no family, and names no rate to\n"
               "the search: for a receiver that sends nothing else, give --baud.\n")
        .Valued("--port", "PORT", "COM3 (see 'velinor ports'), or a device such as /dev/ttyUSB0")
        .Valued("--baud", "RATE", "the rate to watch at; default: the first rate where a protocol is heard")
        .Valued("--seconds", "N", "stop after watching N seconds (default: at Ctrl-C)")
        .Flag("--json", "print one JSON document (see docs/json.md) at the end instead of the table")
        .Footer("Exit codes: 0 a protocol was heard, 1 nothing was, 2 usage error, 3 port error.\n");
}

int RunWatch(const Words& words) {
    const Parsed<WatchOptions> parsed = ParseWatch(words);
    if (const auto ending = ParseEnding(WatchCommandLine(), parsed)) return *ending;
    const WatchOptions& options = parsed.options;
    PortChoice port;
    std::string error;
    if (!ChoosePort(options.port, port, error))
        return PrintFailure(options.json, {{"port", options.port}, {"heard", false}}, "watch", "port", error,
                            kExitPortError);
    // Ctrl-C is how a watch usually ends: it ends as --seconds does, the port given back.
    PrepareConsole(options.json, false);
    return WatchPort(options, port);
}
