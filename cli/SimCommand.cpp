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

#include "cli/CommandOptions.h"
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

#ifndef _WIN32
struct SimModel {
    std::unique_ptr<KSimDevice> device;
    int exitCode = kExitConfirmed;
    std::string error;
};

SimModel ReplayModel(const SimOptions& options) {
    SimModel model;
    std::ifstream in(options.replay, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    model.exitCode = kExitPortError;
    if (!in.good() && !in.eof())
        model.error = "cannot read " + options.replay;
    else if (bytes.empty())
        model.error = options.replay + " holds nothing to play";
    else
        model = {std::make_unique<KSimReplayDevice>(std::move(bytes), static_cast<uint32_t>(options.baud),
                                                    "recording " + std::filesystem::path(options.replay).filename().string()),
                 kExitConfirmed, ""};
    return model;
}

SimModel MakeModel(const SimOptions& options) {
    if (!options.replay.empty()) return ReplayModel(options);
    SimModel model;
    model.device = KSimFactory::CreateDevice(options.type, static_cast<int32_t>(options.baud), options.device, model.error);
    if (!model.device) model.exitCode = kExitUsage;
    return model;
}

// Serves the simulated receiver until Ctrl-C, saying when its rate changes.
void Serve(KPtySimulator& simulator, uint32_t baud) {
    uint32_t shownBaud = baud;
    while (!StopRequest::Requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const uint32_t now = simulator.World().WithDevice([](KSimDevice& d) { return d.Baud(); });
        if (now != shownBaud) {
            std::fprintf(stderr, "The simulated receiver now runs at %u baud\n", now);
            shownBaud = now;
        }
    }
}

int Simulate(const SimOptions& options) {
    SimModel model = MakeModel(options);
    std::string error = model.error;
    if (model.device) {
        const std::string name = model.device->Name();
        // Caught before the path is shown: whoever reads it may signal at once.
        StopRequest::Catch();
        KPtySimulator simulator(std::move(model.device), options.line);
        if (simulator.Start(error)) {
            std::printf("%s\n", simulator.SlavePath().c_str());
            std::fflush(stdout);
            std::fprintf(stderr, "Simulated %s at %lld baud on %s (Ctrl-C ends it)\n", PrintableText(name).c_str(),
                         options.baud, simulator.SlavePath().c_str());
            Serve(simulator, static_cast<uint32_t>(options.baud));
            simulator.Stop();
            // Ctrl-C is how it is meant to end; a termination request says so in its code.
            return StopRequest::Terminated() ? StopRequest::ExitCode() : kExitConfirmed;
        }
        model.exitCode = kExitPortError;
    }
    std::fprintf(stderr, "velinor sim: %s\n", PrintableText(error).c_str());
    return model.exitCode;
}
#endif

} // namespace

Parsed<SimOptions> ParseSim(const Words& words) {
    const ParsedWords read = SimCommandLine().Parse(words);
    Parsed<SimOptions> parsed{{}, read.help, read.error};
    if (read.help || !read.error.empty()) return parsed;
    SimOptions& options = parsed.options;
    if (!ParseSimFaults(read, options.device, options.line, parsed.error)) return parsed;
    if (read.Has("--replay") == read.Has("--receiver") || !read.Has("--baud")) {
        parsed.error = "needs --receiver NAME|ID or --replay FILE, and --baud RATE";
        return parsed;
    }
    options.replay = read.Value("--replay");
    if (read.Has("--receiver") && (options.type = ChooseReceiver(read.Value("--receiver"), parsed.error)) == 0)
        return parsed;
    if (!ParseInt(read.Value("--baud"), 1, 10000000, options.baud)) parsed.error = "--baud takes a rate in bits per second";
    return parsed;
}


CommandLine SimCommandLine() {
    std::string simulated;
    for (int32_t type : KSimFactory::SimulatedTypes())
        simulated += std::string("  ") + FindCatalogueType(type)->displayName + " at " + KSimFactory::RatesText(type) +
                     " baud\n";
    CommandLine line("sim");
    line.Synopsis("velinor sim --receiver NAME|ID --baud RATE [fault options]")
        .Synopsis("velinor sim --replay FILE --baud RATE [--noise P] [--seed N]")
        .About("Exposes a simulated receiver on a pseudo-terminal and prints the device path to open, e.g.\n"
               "  velinor set --receiver NAME --port /dev/pts/N --baud 115200\n"
               "The line model garbles bytes when the two sides' rates differ, as a real UART would.\n"
               "Runs until Ctrl-C.\n")
        .Valued("--receiver", "NAME|ID", "receiver type, as in 'velinor receivers'")
        .Valued("--replay", "FILE", "instead of a receiver, a device that plays the recording FILE over and over at "
                                    "RATE and answers nothing (to try 'velinor identify' on it)")
        .Valued("--baud", "RATE", "the rate the simulated receiver runs at now");
    DefineSimFaults(line);
    line.Footer("Simulated receivers:\n" + simulated);
    return line;
}

int RunSim(const Words& words) {
    const CommandLine line = SimCommandLine();
    const Parsed<SimOptions> parsed = ParseSim(words);
    if (const auto ending = ParseEnding(line, parsed)) return *ending;
#ifdef _WIN32
    std::fprintf(stderr, "velinor sim: pseudo-terminals do not exist on Windows; 'velinor demo' runs a simulated "
                         "receiver in-process\n");
    return kExitUsage;
#else
    return Simulate(parsed.options);
#endif
}
