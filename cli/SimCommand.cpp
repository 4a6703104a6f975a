#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/ReceiverChoice.h"
#include "cli/SimFaultOptions.h"
#include "cli/StopRequest.h"
#include "comm/KConsole.h"
#include "comm/KPrintableText.h"
#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#ifndef _WIN32
#include "sim/KPtySimulator.h"
#include "sim/KSimReplayDevice.h"
#endif

namespace {

constexpr const char* kHelp =
    "usage: velinor sim --receiver NAME --baud RATE [fault options]\n"
    "       velinor sim --replay FILE --baud RATE [--noise P] [--seed N]\n"
    "\n"
    "Exposes a simulated receiver on a pseudo-terminal and prints the device path to open, e.g.\n"
    "  velinor set --receiver NAME --port /dev/pts/N --baud 115200\n"
    "The line model garbles bytes when the two sides' rates differ, as a real UART would.\n"
    "Runs until Ctrl-C.\n"
    "\n"
    "  --receiver NAME     receiver type, as in 'velinor receivers'\n"
    "  --replay FILE       instead of a receiver, a device that plays the recording FILE over and\n"
    "                      over at RATE and answers nothing (to try 'velinor identify' on it)\n"
    "  --baud RATE         the rate the simulated receiver runs at now\n";

} // namespace

int RunSim(const Words& words) {
    const CliArgs args(words, SimValuedOptions({"--receiver", "--baud", "--replay"}), SimFlagOptions({"--help"}));
    if (args.Flag("--help")) {
        std::fputs(kHelp, stdout);
        std::fputs(SimFaultHelp().c_str(), stdout);
        std::fputs("\nSimulated receivers:\n", stdout);
        for (int32_t type : KSimFactory::SimulatedTypes())
            std::printf("  %-20s  at %s baud\n", FindCatalogueType(type)->displayName, KSimFactory::RatesText(type).c_str());
        return kExitConfirmed;
    }
    if (!args.Ok() || !args.Positionals().empty()) {
        std::fprintf(stderr, "velinor sim: %s\n(see 'velinor sim --help')\n",
                     args.Ok() ? "unexpected argument" : args.Error().c_str());
        return kExitUsage;
    }
    std::string error;
    KSimDeviceOptions device;
    KSimWorldOptions line;
    if (!ParseSimFaults(args, device, line, error)) {
        std::fprintf(stderr, "velinor sim: %s\n", PrintableText(error).c_str());
        return kExitUsage;
    }
    const bool replay = args.Has("--replay");
    if (replay == args.Has("--receiver") || !args.Has("--baud")) {
        std::fprintf(stderr, "velinor sim: needs --receiver NAME or --replay FILE, and --baud RATE\n"
                             "(see 'velinor sim --help')\n");
        return kExitUsage;
    }
    const int32_t type = replay ? 0 : ChooseReceiver(args.Value("--receiver"), error);
    if (!replay && !type) {
        std::fprintf(stderr, "velinor sim: %s\n", PrintableText(error).c_str());
        return kExitUsage;
    }
    long long baud = 0;
    if (!ParseInt(args.Value("--baud"), 1, 10000000, baud)) {
        std::fprintf(stderr, "velinor sim: --baud takes a rate in bits per second\n");
        return kExitUsage;
    }
#ifdef _WIN32
    (void)device;
    (void)line;
    std::fprintf(stderr, "velinor sim: pseudo-terminals do not exist on Windows; 'velinor demo' runs a simulated "
                         "receiver in-process\n");
    return kExitUsage;
#else
    std::unique_ptr<KSimDevice> model;
    if (replay) {
        const std::string path = args.Value("--replay");
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "velinor sim: cannot read %s\n", PrintableText(path).c_str());
            return kExitPortError;
        }
        if (bytes.empty()) {
            std::fprintf(stderr, "velinor sim: %s holds nothing to play\n", PrintableText(path).c_str());
            return kExitPortError;
        }
        model = std::make_unique<KSimReplayDevice>(std::move(bytes), static_cast<uint32_t>(baud),
                                                   "recording " + std::filesystem::path(path).filename().string());
    } else {
        model = KSimFactory::CreateDevice(type, static_cast<int32_t>(baud), device, error);
        if (!model) {
            std::fprintf(stderr, "velinor sim: %s\n", PrintableText(error).c_str());
            return kExitUsage;
        }
    }
    const std::string name = model->Name();
    // Caught before the path is shown: whoever reads it may signal at once.
    StopRequest::Catch();
    KPtySimulator simulator(std::move(model), line);
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "velinor sim: %s\n", PrintableText(error).c_str());
        return kExitPortError;
    }
    std::printf("%s\n", simulator.SlavePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "Simulated %s at %lld baud on %s (Ctrl-C ends it)\n", PrintableText(name).c_str(), baud,
                 simulator.SlavePath().c_str());
    std::fflush(stdout);
    uint32_t shownBaud = static_cast<uint32_t>(baud);
    while (!StopRequest::Requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const uint32_t now = simulator.World().WithDevice([](KSimDevice& d) { return d.Baud(); });
        if (now != shownBaud) {
            std::fprintf(stderr, "The simulated receiver now runs at %u baud\n", now);
            shownBaud = now;
        }
    }
    simulator.Stop();
    // Ctrl-C is how it is meant to end; a termination request says so in its code.
    return StopRequest::Terminated() ? StopRequest::ExitCode() : kExitConfirmed;
#endif
}
