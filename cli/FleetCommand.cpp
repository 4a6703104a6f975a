#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/FleetFile.h"
#include "cli/JsonOutput.h"
#include "cli/SessionRunner.h"
#include "cli/StatusLine.h"
#include "cli/StopRequest.h"
#include "comm/KConsole.h"
#include "comm/KNetworkComm.h"
#include "comm/KPrintableText.h"
#include "families/KReceiverFamily.h"
#include "session/KBaudSession.h"
#include "time/KClock.h"

namespace {

constexpr int32_t kLoopMs = 50;
constexpr int32_t kProbeMs = 250;
constexpr int32_t kRedrawMs = 250;

enum class Outcome { Waiting, Running, DeviceGone, Confirmed, NotConfirmed, PortError, Stopped };

const char* OutcomeWord(Outcome outcome) {
    switch (outcome) {
    case Outcome::Confirmed: return "confirmed";
    case Outcome::PortError: return "port-error";
    case Outcome::Stopped: return "stopped";
    case Outcome::NotConfirmed: return "not-confirmed";
    default: return "running";
    }
}

// One receiver's session and what is shown of it. The status is written by the session's
// worker and by the loop, read by the display.
struct Row {
    FleetEntry entry;
    Outcome outcome = Outcome::Waiting;
    std::unique_ptr<KBaudSession> session;
    std::mutex lock;
    std::string status = "Waiting";
    StatusLine::Colour colour = StatusLine::Colour::Grey;
    std::atomic<int32_t> answeredBaud{0};
    std::atomic<bool> gone{false};
    int64_t startedMs = -1;
    int64_t endedMs = -1;
    int64_t nextProbeMs = 0;

    void Show(const std::string& text, StatusLine::Colour c) {
        std::lock_guard<std::mutex> guard(lock);
        status = text;
        colour = c;
    }
    std::pair<std::string, StatusLine::Colour> Shown() {
        std::lock_guard<std::mutex> guard(lock);
        return {status, colour};
    }
    const std::string& Device() const { return entry.port.devicePath; }
};

// The process-wide hooks of the serial links, pointed at the fleet's rows while it runs.
std::vector<Row*> activeRows;
std::mutex activeLock;

Row* RowOf(const std::string& device) {
    std::lock_guard<std::mutex> guard(activeLock);
    for (Row* row : activeRows)
        if (row->Device() == device) return row;
    return nullptr;
}

void OnGone(const std::string& device) {
    if (Row* row = RowOf(device)) row->gone.store(true);
}

void OnOpenFailure(const KOpenError& error) {
    if (Row* row = RowOf(error.device)) {
        if (!row->gone.load()) row->Show(OpenFailureText(error), StatusLine::Colour::Red);
    }
}

void OnStatus(void* user, int32_t kind, int32_t baud, int32_t value) {
    auto* row = static_cast<Row*>(user);
    if (kind == 1) row->answeredBaud.store(baud);
    row->Show(StatusLine::TextFor(kind, baud), value == 1 ? StatusLine::Colour::Green : StatusLine::Colour::Red);
}

std::string TypeName(int32_t type) {
    const KCatalogueType* row = FindCatalogueType(type);
    return row ? row->displayName : std::to_string(type);
}

// The table on a terminal, redrawn in place; elsewhere one line per change of a row's status.
class FleetDisplay {
public:
    FleetDisplay(std::vector<std::unique_ptr<Row>>& fleetRows, bool quiet)
        : rows(fleetRows), live(!quiet && KConsole::IsTerminal(stdout)), colours(KConsole::EnableColours(stdout)),
          silent(quiet), shown(fleetRows.size()) {
        for (const auto& row : rows) width = std::max(width, PrintableText(row->entry.port.display).size());
    }

    void Draw(int64_t nowMs) {
        if (silent) return;
        if (live) {
            if (drawn) std::printf("\033[%zuA", rows.size());
            for (const auto& row : rows) std::printf("\r\033[K%s\n", Line(*row, nowMs).c_str());
            drawn = true;
        } else {
            for (size_t i = 0; i < rows.size(); ++i) {
                const auto [text, colour] = rows[i]->Shown();
                if (text == shown[i]) continue;
                shown[i] = text;
                std::printf("[%7.1f s] %-*s %-5s %s\n", static_cast<double>(nowMs) / 1000.0, static_cast<int>(width),
                            PrintableText(rows[i]->entry.port.display).c_str(), ColourWord(colour),
                            PrintableText(text).c_str());
            }
        }
        std::fflush(stdout);
    }

private:
    static const char* ColourWord(StatusLine::Colour c) {
        return c == StatusLine::Colour::Green ? "green" : c == StatusLine::Colour::Red ? "red" : "grey";
    }
    std::string Line(Row& row, int64_t nowMs) const {
        const auto [text, colour] = row.Shown();
        const char* dot = colour == StatusLine::Colour::Green ? "[ OK ]" : colour == StatusLine::Colour::Red ? "[....]" : "[    ]";
        if (colours)
            dot = colour == StatusLine::Colour::Green ? "\033[32m\u25CF\033[0m"
                  : colour == StatusLine::Colour::Red ? "\033[31m\u25CF\033[0m"
                                                      : "\033[90m\u25CF\033[0m";
        const int64_t end = row.endedMs >= 0 ? row.endedMs : nowMs;
        const double seconds = row.startedMs >= 0 ? static_cast<double>(end - row.startedMs) / 1000.0 : 0.0;
        char line[512];
        std::snprintf(line, sizeof line, "%s %-*s %-20.20s %7d  %-44.44s %6.1f s", dot, static_cast<int>(width),
                      PrintableText(row.entry.port.display).c_str(), TypeName(row.entry.type).c_str(), row.entry.baud,
                      PrintableText(text).c_str(), seconds);
        return line;
    }

    std::vector<std::unique_ptr<Row>>& rows;
    bool live;
    bool colours;
    bool silent;
    bool drawn = false;
    size_t width = 4;
    std::vector<std::string> shown;
};

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) return false;
    text = all.str();
    return true;
}

void StartRow(Row& row, int32_t lastKnownBaud, int64_t nowMs) {
    row.session = std::make_unique<KBaudSession>();
    const std::string device = row.entry.port.devicePath;
    if (!device.empty()) {
        row.session->SetLinkFactory([device] {
            auto link = CreatePortLink(device);
            link->DevicePath = device;
            return link;
        });
    }
    row.session->statusCallback = OnStatus;
    row.session->statusUser = &row;
    if (row.startedMs < 0) row.startedMs = nowMs;
    row.gone.store(false);
    row.Show("...Starting...", StatusLine::Colour::Red);
    row.outcome = row.session->Start(row.entry.port.portNumber, row.entry.baud, lastKnownBaud, row.entry.type)
                      ? Outcome::Running
                      : Outcome::PortError;
}

// Whether the device is there again: opened and closed at once, as set probes.
bool DeviceBack(const Row& row) {
    const std::unique_ptr<KSerialComm> probe = CreatePortLink(row.Device());
    probe->DevicePath = row.Device();
    probe->BaudRate = row.answeredBaud.load() ? row.answeredBaud.load() : row.entry.baud;
    if (!probe->Open(0)) return false;
    probe->Close();
    return true;
}

// Moves one running (or waiting-for-its-device) row on, to its end when it has come.
void Advance(Row& row, const FleetOptions& options, int64_t nowMs) {
    const bool timeUp = options.timeoutSeconds > 0 && nowMs - row.startedMs >= std::llround(options.timeoutSeconds * 1000);
    if (row.outcome == Outcome::DeviceGone) {
        if (timeUp) {
            row.outcome = Outcome::PortError;
            row.Show("device gone and not back before the timeout", StatusLine::Colour::Grey);
        } else if (nowMs >= row.nextProbeMs) {
            row.nextProbeMs = nowMs + kProbeMs;
            if (DeviceBack(row)) StartRow(row, row.answeredBaud.load(), nowMs);
        }
        return;
    }
    KBaudSession& session = *row.session;
    char text[96];
    if (session.IsConfirmed()) {
        session.Stop();
        row.outcome = Outcome::Confirmed;
        std::snprintf(text, sizeof text, "Receiver confirmed at %d baud", row.entry.baud);
        row.Show(text, StatusLine::Colour::Green);
    } else if (row.gone.load()) {
        session.Stop();
        row.outcome = Outcome::DeviceGone;
        row.Show("device gone (unplugged?); waiting for it to come back", StatusLine::Colour::Red);
    } else if (session.WorkerEnded()) {
        session.Stop();
        row.outcome = Outcome::PortError;
        if (row.Shown().first.rfind("COM Port", 0) != 0 && row.Shown().first.rfind("Unable", 0) != 0)
            row.Show("COM Port Busy Or Not Installed", StatusLine::Colour::Grey);
    } else if (timeUp) {
        session.Stop();
        row.outcome = Outcome::NotConfirmed;
        std::snprintf(text, sizeof text, "Timed out; receiver not confirmed at %d baud", row.entry.baud);
        row.Show(text, StatusLine::Colour::Grey);
    } else {
        return;
    }
    row.endedMs = nowMs;
}

bool Finished(Outcome outcome) {
    return outcome == Outcome::Confirmed || outcome == Outcome::NotConfirmed || outcome == Outcome::PortError ||
           outcome == Outcome::Stopped;
}

// Ctrl-C: every session is asked to end at once, then each is waited for.
void StopAll(std::vector<std::unique_ptr<Row>>& rows, int64_t nowMs) {
    for (auto& row : rows)
        if (row->outcome == Outcome::Running) row->session->RequestStop();
    char text[96];
    for (auto& row : rows) {
        if (Finished(row->outcome)) continue;
        if (row->outcome == Outcome::Running) row->session->Stop();
        row->outcome = Outcome::Stopped;
        row->endedMs = nowMs;
        std::snprintf(text, sizeof text, "Stopped; receiver not confirmed at %d baud", row->entry.baud);
        row->Show(text, StatusLine::Colour::Grey);
    }
}

void RunSessions(std::vector<std::unique_ptr<Row>>& rows, const FleetOptions& options, FleetDisplay& display) {
    KClock& clock = KClock::Current();
    const int64_t started = clock.NowMs();
    int64_t lastDraw = -kRedrawMs;
    const size_t jobs = options.jobs > 0 ? static_cast<size_t>(options.jobs) : rows.size();
    for (;;) {
        const int64_t now = clock.NowMs() - started;
        if (StopRequest::Requested()) {
            StopAll(rows, now);
            display.Draw(now);
            return;
        }
        size_t active = 0;
        for (auto& row : rows)
            if (row->outcome == Outcome::Running || row->outcome == Outcome::DeviceGone) ++active;
        for (auto& row : rows) {
            if (row->outcome != Outcome::Waiting || active >= jobs) continue;
            StartRow(*row, 0, now);
            if (row->outcome == Outcome::PortError) row->endedMs = now;
            ++active;
        }
        for (auto& row : rows)
            if (row->outcome == Outcome::Running || row->outcome == Outcome::DeviceGone) Advance(*row, options, now);
        const bool done = std::all_of(rows.begin(), rows.end(), [](const auto& row) { return Finished(row->outcome); });
        if (done || now - lastDraw >= kRedrawMs) {
            display.Draw(now);
            lastDraw = now;
        }
        if (done) return;
        clock.Sleep(kLoopMs);
    }
}

int ExitCodeOf(const std::vector<std::unique_ptr<Row>>& rows, bool portProblems) {
    if (StopRequest::Requested()) return StopRequest::ExitCode();
    bool portError = portProblems;
    bool notConfirmed = false;
    for (const auto& row : rows) {
        portError = portError || row->outcome == Outcome::PortError;
        notConfirmed = notConfirmed || row->outcome != Outcome::Confirmed;
    }
    return portError ? kExitPortError : notConfirmed ? kExitNotConfirmed : kExitConfirmed;
}

void PrintFleetJson(std::vector<std::unique_ptr<Row>>& rows, int exitCode) {
    JsonValue list = JsonValue::array();
    size_t confirmed = 0;
    for (auto& row : rows) {
        const int64_t end = row->endedMs >= 0 ? row->endedMs : row->startedMs;
        confirmed += row->outcome == Outcome::Confirmed;
        list.push_back({{"line", row->entry.line},
                        {"type", JsonReceiverType(row->entry.type)},
                        {"port", row->entry.port.display},
                        {"wantedBaud", row->entry.baud},
                        {"outcome", OutcomeWord(row->outcome)},
                        {"seconds", row->startedMs >= 0 ? std::round(static_cast<double>(end - row->startedMs) / 100.0) / 10.0
                                                        : 0.0},
                        {"lastStatus", row->Shown().first}});
    }
    PrintJson({{"receivers", list}, {"confirmed", confirmed}, {"total", rows.size()}, {"exitCode", exitCode}});
}

} // namespace

Parsed<FleetOptions> ParseFleet(const Words& words) {
    const ParsedWords read = FleetCommandLine().Parse(words);
    Parsed<FleetOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    FleetOptions& options = parsed.options;
    if (read.Positionals().empty()) parsed.error = "FILE is needed";
    if (!parsed.error.empty()) return parsed;
    options.file = read.Positionals().front();
    std::optional<long long> jobs, timeout;
    if (!ReadInt(read, "--jobs", 1, 1000, jobs)) parsed.error = "--jobs takes a whole number from 1";
    if (!ReadInt(read, "--timeout", 1, 86400 * 365, timeout)) parsed.error = "--timeout takes whole seconds";
    options.jobs = static_cast<int>(jobs.value_or(0));
    options.timeoutSeconds = static_cast<double>(timeout.value_or(0));
    options.json = read.Flag("--json");
    return parsed;
}

CommandLine FleetCommandLine() {
    return CommandLine("fleet")
        .Synopsis("velinor fleet [--jobs N] [--timeout S] [--json] FILE")
        .About("Brings every receiver of FILE to its rate at once, each as 'velinor set --until-confirmed'\n"
               "would, and shows one row per receiver. FILE has one receiver per line:\n"
               "\n"
               "  TYPE PORT RATE      e.g.   15 /dev/serial/by-id/usb-FTDI_A1-if00 115200\n"
               "                             5 rfc2217://ts-3:4001 38400\n"
               "\n"
               "TYPE is an id or a name from 'velinor receivers' (in double quotes when it has blanks), PORT\n"
               "a device, stable name, COM name or rfc2217:// URL; '#' starts a comment. Ctrl-C stops every\n"
               "session cleanly.\n")
        .Valued("--jobs", "N", "at most N sessions at a time (default: all)")
        .Valued("--timeout", "S", "give up on a receiver not confirmed after S seconds")
        .Flag("--json", "one JSON document at the end, a row per receiver, instead of the table")
        .Positionals(1)
        .Footer("Exit codes: 0 every receiver confirmed, 1 some not confirmed, 2 usage error or a bad file\n"
                "(with its line), 3 a port could not be used, 130 Ctrl-C, 143 terminated.\n");
}

namespace {

// The fleet file read: its entries, or the exit code of a file that cannot be used (said).
std::optional<int> LoadFleet(const FleetOptions& options, FleetFile& fleet) {
    std::string text;
    if (!ReadWholeFile(options.file, text)) {
        std::fprintf(stderr, "velinor fleet: cannot read %s\n", PrintableText(options.file).c_str());
        return kExitPortError;
    }
    fleet = ReadFleet(text);
    if (!fleet.error.empty()) {
        std::fprintf(stderr, "velinor fleet: %s: %s\n", PrintableText(options.file).c_str(),
                     PrintableText(fleet.error).c_str());
        return kExitUsage;
    }
    for (const std::string& problem : fleet.portProblems)
        std::fprintf(stderr, "velinor fleet: %s\n", PrintableText(problem).c_str());
    return std::nullopt;
}

std::vector<std::unique_ptr<Row>> MakeRows(const FleetFile& fleet) {
    std::vector<std::unique_ptr<Row>> rows;
    for (const FleetEntry& entry : fleet.entries) {
        auto row = std::make_unique<Row>();
        row->entry = entry;
        if (entry.port.portNumber < 0) {
            row->outcome = Outcome::PortError;
            row->Show("not there: see the line above the table", StatusLine::Colour::Grey);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Runs every row's session to its end, the process-wide handlers pointed at the rows meanwhile.
void RunFleetSessions(std::vector<std::unique_ptr<Row>>& rows, const FleetOptions& options) {
    {
        std::lock_guard<std::mutex> guard(activeLock);
        activeRows.clear();
        for (auto& row : rows) activeRows.push_back(row.get());
    }
    StopRequest::Catch();
    KSerialComm::SetDeviceGoneHandler(OnGone);
    KSerialComm::SetOpenFailureHandler(OnOpenFailure);
    FleetDisplay display(rows, options.json);
    RunSessions(rows, options, display);
    KSerialComm::SetOpenFailureHandler(nullptr);
    KSerialComm::SetDeviceGoneHandler(nullptr);
    std::lock_guard<std::mutex> guard(activeLock);
    activeRows.clear();
}

} // namespace

int RunFleet(const Words& words) {
    const Parsed<FleetOptions> parsed = ParseFleet(words);
    if (const auto ending = ParseEnding(FleetCommandLine(), parsed)) return *ending;
    FleetFile fleet;
    if (const auto failed = LoadFleet(parsed.options, fleet)) return *failed;
    std::vector<std::unique_ptr<Row>> rows = MakeRows(fleet);
    RunFleetSessions(rows, parsed.options);
    const int exitCode = ExitCodeOf(rows, !fleet.portProblems.empty());
    if (parsed.options.json) PrintFleetJson(rows, exitCode);
    return exitCode;
}
