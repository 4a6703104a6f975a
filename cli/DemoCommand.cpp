#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/ReceiverChoice.h"
#include "cli/SessionRunner.h"
#include "cli/SimFaultOptions.h"
#include "cli/StatusLine.h"
#include "comm/KBaudRates.h"
#include "comm/KConsole.h"
#include "comm/KPrintableText.h"
#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "sim/KSimComm.h"
#ifdef _WIN32
#include "sim/KRealTimeDriver.h"
#else
#include "sim/KPtySimulator.h"
#endif

namespace {

// The type and rates of the run, drawn where the options leave them open; a usage error when
// a rate given is not one of the type's.
struct DemoPlan {
    int32_t type = 0;
    long long target = 0;
    long long start = 0;
    std::string error;
};

DemoPlan PlanDemo(const DemoOptions& options) {
    std::random_device entropy;
    std::mt19937 random(options.seeded ? static_cast<uint32_t>(options.line.seed) : entropy());
    const std::vector<int32_t> simulated = KSimFactory::SimulatedTypes();
    DemoPlan plan;
    plan.type = simulated[std::uniform_int_distribution<size_t>(0, simulated.size() - 1)(random)];
    if (options.type) plan.type = options.type;
    const std::vector<int32_t> rates = TypeRates(plan.type);
    plan.target = TypeTakesRate(plan.type, 115200) ? 115200 : rates.back();  // the fastest, when 115200 is not one
    if (options.baud) plan.target = *options.baud;
    if (!TypeTakesRate(plan.type, plan.target)) plan.error = "--baud must be one of " + TypeRatesText(plan.type);
    plan.start = plan.target;
    while (plan.start == plan.target && rates.size() > 1)
        plan.start = rates[std::uniform_int_distribution<size_t>(0, rates.size() - 1)(random)];
    if (options.startBaud) plan.start = *options.startBaud;
    if (plan.error.empty() && !TypeTakesRate(plan.type, plan.start))
        plan.error = "--start-baud must be one of " + TypeRatesText(plan.type);
    return plan;
}

struct DemoResult {
    SessionPlan session;
    SessionOutcome outcome;
    uint32_t nowBaud = 0;  // the simulated receiver's rate at the end
    int exitCode = kExitConfirmed;
    std::string error;  // the simulated receiver could not be made (exitCode says how)
};

void Announce(const std::string& name, const DemoPlan& plan, const SessionPlan& session) {
    std::printf("Simulated receiver: %s at %lld baud (the session is not told)\n", name.c_str(), plan.start);
    std::printf("Session: %s on %s, wanted rate %lld baud\n", name.c_str(), session.port.display.c_str(), plan.target);
    std::fflush(stdout);
}

DemoResult RunDemoSession(const DemoOptions& options, const DemoPlan& plan, StatusLine& status) {
    DemoResult result;
    auto model = KSimFactory::CreateDevice(plan.type, static_cast<int32_t>(plan.start), options.device, result.error);
    if (!model) {
        result.exitCode = kExitUsage;
        return result;
    }
    const std::string name = model->Name();
    SessionPlan& session = result.session;
    session.receiverType = plan.type;
    session.targetBaud = static_cast<int32_t>(plan.target);
    session.lastKnownBaud = 0;  // the session is not told where the receiver is
    session.untilConfirmed = true;
    session.timeoutSeconds = static_cast<double>(options.timeout);
#ifdef _WIN32
    KSimWorld world(std::move(model), options.line);
    KRealTimeDriver driver(world);
    driver.Start();
    session.linkFactory = [&world] { return std::make_unique<KSimComm>(world); };
    session.port.display = "an in-process simulated line";
    KSimWorld& running = world;
#else
    KPtySimulator simulator(std::move(model), options.line);
    if (!simulator.Start(result.error)) {
        result.exitCode = kExitPortError;
        return result;
    }
    session.port.devicePath = simulator.SlavePath();
    session.port.display = simulator.SlavePath() + " (a pseudo-terminal)";
    KSimWorld& running = simulator.World();
#endif
    Announce(name, plan, session);
    result.outcome = RunSessionPlan(session, status);
    result.nowBaud = running.WithDevice([](KSimDevice& d) { return d.Baud(); });
#ifdef _WIN32
    driver.Stop();
#else
    simulator.Stop();
#endif
    return result;
}

} // namespace

Parsed<DemoOptions> ParseDemo(const Words& words) {
    const ParsedWords read = DemoCommandLine().Parse(words);
    Parsed<DemoOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    DemoOptions& options = parsed.options;
    if (!ParseSimFaults(read, options.device, options.line, parsed.error)) return parsed;
    options.seeded = read.Has("--seed");
    if (read.Has("--receiver")) {
        options.type = ChooseReceiver(read.Value("--receiver"), parsed.error);
        if (options.type == 0) return parsed;
        if (!KSimFactory::IsSimulated(options.type))
            parsed.error = std::string(FindCatalogueType(options.type)->displayName) + " is not simulated yet";
    }
    if (!ReadInt(read, "--baud", 1, 10000000, options.baud)) parsed.error = "--baud takes a rate in bits per second";
    if (!ReadInt(read, "--start-baud", 1, 10000000, options.startBaud))
        parsed.error = "--start-baud takes a rate in bits per second";
    std::optional<long long> timeout;
    if (!ReadInt(read, "--timeout", 1, 86400, timeout)) parsed.error = "--timeout takes whole seconds";
    options.timeout = timeout.value_or(kDemoTimeoutSeconds);
    return parsed;
}


CommandLine DemoCommandLine() {
    CommandLine line("demo");
    line.Synopsis("velinor demo [--receiver NAME|ID] [--baud RATE] [--start-baud RATE] [--timeout S] [fault options]")
        .About("Runs a real baud session against a simulated receiver that starts at a rate the session is\n"
               "not told: the session pings, auto-detects the rate, switches the receiver and monitors it\n"
               "until it is confirmed at the wanted rate. On Linux the receiver sits behind a\n"
               "pseudo-terminal opened by the real serial link; on Windows it runs in-process.\n")
        .Valued("--receiver", "NAME|ID", "any type of 'velinor receivers' that is simulated (default: one at random)")
        .Valued("--baud", "RATE", "the wanted rate (default 115200, or the type's fastest below it)")
        .Valued("--start-baud", "RATE", "the simulated receiver's rate at the start (default: one at random)")
        .Valued("--timeout", "S", "give up after S seconds (default 180)");
    DefineSimFaults(line);
    line.Footer("Exit codes: 0 confirmed at the wanted rate, 1 not confirmed, 2 usage error, 3 the\n"
                "simulated line could not be made or opened.\n");
    return line;
}

int RunDemo(const Words& words) {
    const CommandLine line = DemoCommandLine();
    const Parsed<DemoOptions> parsed = ParseDemo(words);
    if (const auto ending = ParseEnding(line, parsed)) return *ending;
    const DemoPlan plan = PlanDemo(parsed.options);
    if (!plan.error.empty()) return *ParseEnding(line, false, plan.error);
    StatusLine status(stdout, KConsole::IsTerminal(stdout), KConsole::EnableColours(stdout));
    const DemoResult result = RunDemoSession(parsed.options, plan, status);
    if (result.exitCode == kExitUsage) return *ParseEnding(line, false, result.error);
    if (result.exitCode != kExitConfirmed) {
        std::fprintf(stderr, "velinor demo: %s\n", PrintableText(result.error).c_str());
        return result.exitCode;
    }
    const int code = PrintSessionEnding(result.outcome, result.session, status);
    std::printf("The simulated receiver now runs at %u baud.\n", result.nowBaud);
    return code;
}
