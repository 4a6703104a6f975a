#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
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

constexpr const char* kHelp =
    "usage: velinor watch --port PORT [--baud RATE] [--seconds N] [--json]\n"
    "\n"
    "Shows what the device on PORT sends, without sending it anything: the protocols heard, each\n"
    "message id with its count and rate, live. The way to check a receiver after 'velinor set'.\n"
    "Without --baud it first listens at every rate, as 'velinor identify --listen-only' does, and\n"
    "watches at the first where a protocol is heard. Only messages whose checks hold count; a\n"
    "protocol shows once two of its messages have been framed. On a terminal the table is redrawn\n"
    "in place; otherwise each message id is told when first heard and the table comes at the end.\n"
    "Plain NMEA, which many makers' receivers send, shows under no family, and names no rate to\n"
    "the search: for a receiver that sends nothing else, give --baud.\n"
    "\n"
    "  --port PORT   COM3 (see 'velinor ports'), or a device such as /dev/ttyUSB0\n"
    "  --baud RATE   the rate to watch at; default: the first rate where a protocol is heard\n"
    "  --seconds N   stop after watching N seconds (default: at Ctrl-C)\n"
    "  --json        print one JSON document (see docs/json.md) at the end instead of the table\n"
    "\n"
    "Exit codes: 0 a protocol was heard, 1 nothing was, 2 usage error, 3 port error.\n";

constexpr int32_t kReadPauseMs = 50;
constexpr int32_t kRedrawMs = 500;


int Usage(const std::string& message) {
    std::fprintf(stderr, "velinor watch: %s\n(see 'velinor watch --help')\n", PrintableText(message).c_str());
    return kExitUsage;
}

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

} // namespace

int RunWatch(const Words& words) {
    const CliArgs args(words, {"--port", "--baud", "--seconds"}, {"--help", "--json"});
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        return kExitConfirmed;
    }
    if (!args.Ok()) return Usage(args.Error());
    if (!args.Positionals().empty()) return Usage("unexpected argument '" + args.Positionals().front() + "'");
    if (!args.Has("--port")) return Usage("needs --port PORT");
    long long baud = 0;
    if (args.Has("--baud") && (!ParseInt(args.Value("--baud"), 1, 10000000, baud) || !SystemSetsRate(static_cast<int32_t>(baud))))
        return Usage("--baud must be a rate this system can set a port to, such as 9600 or 115200");
    long long seconds = 0;
    if (args.Has("--seconds") && !ParseInt(args.Value("--seconds"), 1, 86400LL * 365, seconds))
        return Usage("--seconds takes whole seconds");
    const bool json = args.Flag("--json");
    PortChoice port;
    std::string error;
    if (!ChoosePort(args.Value("--port"), port, error))
        return PrintFailure(json, {{"port", args.Value("--port")}, {"heard", false}}, "watch", "port", error,
                            kExitPortError);
    if (json)
        KeepOpenFailures();
    else
        ReportOpenFailuresOnConsole();
    // Ctrl-C is how a watch usually ends: it ends as --seconds does, the port given back.
    StopRequest::Catch();

    KClock& clock = KClock::Current();
    const std::unique_ptr<KSerialComm> owned = CreatePortLink(port.devicePath);
    KSerialComm& link = *owned;
    link.PortNumber = port.portNumber;
    link.DevicePath = port.devicePath;
    const std::string shown = PrintableText(port.display);
    const bool searched = baud == 0;
    if (searched) {
        // As identify listens, one rate after another, until a protocol is heard.
        const KReceiverIdentifier::Options options;
        for (int32_t rate : KReceiverIdentifier::SearchOrder()) {
            if (StopRequest::Requested()) break;
            if (!json) std::fprintf(stderr, "velinor watch: listening at %d baud\n", rate);
            link.BaudRate = rate;
            // The port stays claimed from one rate to the next.
            if (!(link.IsOpen() ? link.Reopen(rate) : link.Open(0))) return PortFailed(json, port, "");
            KReceiverIdentifier::Heard heard;
            if (KReceiverIdentifier::ListenOn(link, rate, options, heard, [] { return StopRequest::Requested(); })) {
                baud = rate;
                break;
            }
        }
        if (baud == 0) {
            link.Close();
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
    } else {
        link.BaudRate = static_cast<int32_t>(baud);
        if (!link.Open(0)) return PortFailed(json, port, "");
    }

    const int32_t rate = static_cast<int32_t>(baud);
    const bool live = !json && KConsole::IsTerminal(stdout);
    if (!json && !live) std::printf("watching %s at %d baud\n", shown.c_str(), rate);
    KLineWatch watch;
    const int64_t start = clock.NowMs();
    const int64_t limitMs = seconds * 1000;
    int64_t drawn = start - kRedrawMs;
    size_t drawnLines = 0;
    size_t toldKinds = 0;
    uint8_t buffer[4096];
    bool gone = false;
    for (;;) {
        for (int32_t n; (n = link.ReadAvailable(buffer, sizeof buffer)) > 0;)
            watch.Feed(buffer, static_cast<size_t>(n), clock.NowMs() - start);
        const int64_t now = clock.NowMs();
        const bool over = StopRequest::Requested() || (limitMs > 0 && now - start >= limitMs);
        gone = link.DeviceGone();
        if (live && (over || gone || now - drawn >= kRedrawMs)) {
            drawn = now;
            const std::vector<std::string> lines = TableLines(watch, shown, rate, now - start);
            // Back over the last drawing, then the new one over it.
            if (drawnLines) std::printf("\033[%zuA", drawnLines);
            std::printf("\r\033[J");
            for (const std::string& line : lines) std::printf("%s\n", line.c_str());
            drawnLines = lines.size();
            std::fflush(stdout);
        } else if (!json && !live) {
            // Each message id once, when first heard.
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
        if (over || gone) break;
        clock.Sleep(kReadPauseMs);
    }
    link.Close();
    const int64_t watchedMs = clock.NowMs() - start;
    if (json) {
        PrintJson(Document(watch, port, rate, searched, watchedMs));
    } else if (!live) {
        for (const std::string& line : TableLines(watch, shown, rate, watchedMs)) std::printf("%s\n", line.c_str());
    }
    if (gone) {
        if (!json) std::fprintf(stderr, "velinor watch: device gone: %s (unplugged?)\n", shown.c_str());
        return kExitPortError;
    }
    return watch.Heard().empty() ? kExitNotConfirmed : kExitConfirmed;
}
