#include "cli/SimFaultOptions.h"

#include <cstdlib>

#include "cli/CliArgs.h"

std::set<std::string> SimValuedOptions(std::set<std::string> others) {
    others.insert({"--slow", "--revert-after", "--noise", "--seed", "--receiver-port"});
    return others;
}

std::set<std::string> SimFlagOptions(std::set<std::string> others) {
    others.insert({"--silent", "--never-switches", "--quiet-output", "--refuse-rate", "--misses-first-try", "--wrong-ack",
                   "--revert-once"});
    return others;
}

bool ParseSimFaults(const CliArgs& args, KSimDeviceOptions& device, KSimWorldOptions& line, std::string& error) {
    long long value = 0;
    device.silent = args.Flag("--silent");
    device.neverSwitches = args.Flag("--never-switches");
    device.streaming = !args.Flag("--quiet-output");
    device.refusesRateChange = args.Flag("--refuse-rate");
    device.revertsOnce = args.Flag("--revert-once");
    device.missesFirstTry = args.Flag("--misses-first-try");
    device.wrongAcknowledgements = args.Flag("--wrong-ack");
    device.receiverPort = args.Value("--receiver-port");
    if (args.Has("--slow")) {
        if (!ParseInt(args.Value("--slow"), 0, 600000, value)) {
            error = "--slow takes milliseconds (0 to 600000)";
            return false;
        }
        device.replyDelayMs = static_cast<int32_t>(value);
    }
    if (args.Has("--revert-after")) {
        if (!ParseInt(args.Value("--revert-after"), 1, 86400000, value)) {
            error = "--revert-after takes milliseconds";
            return false;
        }
        device.revertAfterMs = static_cast<int32_t>(value);
    }
    if (args.Has("--noise")) {
        char* end = nullptr;
        const std::string text = args.Value("--noise");
        const double p = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(p >= 0.0 && p <= 0.5)) {
            error = "--noise takes a probability from 0 to 0.5";
            return false;
        }
        line.bitFlipProbability = p;
    }
    if (args.Has("--seed")) {
        if (!ParseInt(args.Value("--seed"), 0, 0x7FFFFFFFFFFFFFFFLL, value)) {
            error = "--seed takes a whole number";
            return false;
        }
        line.seed = static_cast<uint64_t>(value);
    }
    return true;
}
