#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "cli/CliArgs.h"
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

constexpr const char* kHelp =
    "usage: velinor demo [--receiver NAME] [--baud RATE] [--start-baud RATE] [fault options]\n"
    "\n"
    "Runs a real baud session against a simulated receiver that starts at a rate the session is\n"
    "not told: the session pings, auto-detects the rate, switches the receiver and monitors it\n"
    "until it is confirmed at the wanted rate. On Linux the receiver sits behind a\n"
    "pseudo-terminal opened by the real serial link; on Windows it runs in-process.\n"
    "\n"
    "  --receiver NAME     any type of 'velinor receivers' that is simulated (default: one at random)\n"
    "  --baud RATE         the wanted rate (default 115200)\n"
    "  --start-baud RATE   the simulated receiver's rate at the start (default: one at random)\n"
    "  --timeout S         give up after S seconds (default 180)\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "velinor demo: %s\n(see 'velinor demo --help')\n", PrintableText(message).c_str());
    return kExitUsage;
}

} // namespace

int RunDemo(const Words& words) {
    const CliArgs args(words, SimValuedOptions({"--receiver", "--baud", "--start-baud", "--timeout"}),
                       SimFlagOptions({"--help"}));
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        std::fputs(SimFaultHelp().c_str(), stdout);
        return kExitConfirmed;
    }
    if (!args.Ok()) return Usage(args.Error());
    if (!args.Positionals().empty()) return Usage("unexpected argument '" + args.Positionals().front() + "'");

    std::string error;
    KSimDeviceOptions device;
    KSimWorldOptions line;
    if (!ParseSimFaults(args, device, line, error)) return Usage(error);

    std::random_device entropy;
    std::mt19937 random(args.Has("--seed") ? static_cast<uint32_t>(line.seed) : entropy());

    const std::vector<int32_t> simulated = KSimFactory::SimulatedTypes();
    int32_t type = simulated[std::uniform_int_distribution<size_t>(0, simulated.size() - 1)(random)];
    if (args.Has("--receiver")) {
        type = ChooseReceiver(args.Value("--receiver"), error);
        if (!type) return Usage(error);
        if (!KSimFactory::IsSimulated(type))
            return Usage(std::string(FindCatalogueType(type)->displayName) + " is not simulated yet");
    }
    long long target = 115200;
    const std::vector<int32_t> rates = TypeRates(type);
    if (!TypeTakesRate(type, target)) target = rates.back();  // the fastest, when 115200 is not one
    if (args.Has("--baud") && (!ParseInt(args.Value("--baud"), 1, 10000000, target) || !TypeTakesRate(type, target)))
        return Usage("--baud must be one of " + TypeRatesText(type));
    long long start = target;
    while (start == target && rates.size() > 1)
        start = rates[std::uniform_int_distribution<size_t>(0, rates.size() - 1)(random)];
    if (args.Has("--start-baud") && (!ParseInt(args.Value("--start-baud"), 1, 10000000, start) || !TypeTakesRate(type, start)))
        return Usage("--start-baud must be one of " + TypeRatesText(type));
    long long timeout = 180;
    if (args.Has("--timeout") && !ParseInt(args.Value("--timeout"), 1, 86400, timeout))
        return Usage("--timeout takes whole seconds");

    auto model = KSimFactory::CreateDevice(type, static_cast<int32_t>(start), device, error);
    if (!model) return Usage(error);
    const std::string name = model->Name();

    SessionPlan plan;
    plan.receiverType = type;
    plan.targetBaud = static_cast<int32_t>(target);
    plan.lastKnownBaud = 0;  // the session is not told where the receiver is
    plan.untilConfirmed = true;
    plan.timeoutSeconds = static_cast<double>(timeout);

#ifdef _WIN32
    KSimWorld world(std::move(model), line);
    KRealTimeDriver driver(world);
    driver.Start();
    plan.linkFactory = [&world] { return std::make_unique<KSimComm>(world); };
    plan.port.display = "an in-process simulated line";
    KSimWorld& running = world;
#else
    KPtySimulator simulator(std::move(model), line);
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "velinor demo: %s\n", PrintableText(error).c_str());
        return kExitPortError;
    }
    plan.port.devicePath = simulator.SlavePath();
    plan.port.display = simulator.SlavePath() + " (a pseudo-terminal)";
    KSimWorld& running = simulator.World();
#endif

    std::printf("Simulated receiver: %s at %lld baud (the session is not told)\n", name.c_str(), start);
    std::printf("Session: %s on %s, wanted rate %lld baud\n", name.c_str(), plan.port.display.c_str(), target);
    std::fflush(stdout);
    StatusLine status(stdout, KConsole::IsTerminal(stdout), KConsole::EnableColours(stdout));
    const int code = RunSessionPlan(plan, status);
    const uint32_t now = running.WithDevice([](KSimDevice& d) { return d.Baud(); });
    std::printf("The simulated receiver now runs at %u baud.\n", now);
#ifdef _WIN32
    driver.Stop();
#else
    simulator.Stop();
#endif
    return code;
}
