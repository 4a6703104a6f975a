#include "cli/SimFaultOptions.h"

#include <cstdlib>
#include <vector>

#include "cli/CliArgs.h"
#include "families/KReceiverFamily.h"

namespace {

// `items` in parentheses after `head`, separated by commas, continued on lines of their own
// (indented to the help column) where a line would run past 90 columns.
std::string ListLine(const std::string& head, const std::vector<std::string>& items) {
    constexpr size_t kWidth = 90;
    const std::string indent(22, ' ');
    std::string text;
    std::string line = head + " (";
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string item = items[i] + (i + 1 == items.size() ? ")" : ",");
        if (i > 0 && line.size() + 1 + item.size() > kWidth) {
            text += line + "\n";
            line = indent + item;
        } else {
            line += (i > 0 ? " " : "") + item;
        }
    }
    return text + line + "\n";
}

} // namespace

std::string SimFaultHelp() {
    std::vector<std::string> missing;
    std::vector<std::string> ports;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        if (family.simulator.missesFirstTry) missing.emplace_back(family.name);
        if (family.simulator.receiverPorts) ports.push_back(std::string(family.name) + " " + family.simulator.receiverPorts);
    }
    return "  --silent            the receiver never answers\n"
           "  --slow MS           it answers MS milliseconds after each request\n"
           "  --never-switches    it acknowledges rate changes but keeps its rate\n"
           "  --revert-after MS   it goes back to its old rate MS milliseconds after switching\n"
           "  --revert-once       with --revert-after: only after its first switch\n"
           "  --quiet-output      no periodic output\n"
           "  --refuse-rate       it refuses rate changes, with the refusal its protocol has\n"
           "  --refuse-save       it refuses to save its settings, where its protocol saves them\n" +
           ListLine("  --misses-first-try  it answers a repeated query only on the second try", missing) +
           "  --wrong-ack         it acknowledges requests wrongly, where its protocol acknowledges\n" +
           ListLine("  --receiver-port P   the receiver's port the cable is on", ports) +
           "  --noise P           each bit on the cable flips with probability P (e.g. 0.0001)\n"
           "  --seed N            seed of the noise\n";
}

std::set<std::string> SimValuedOptions(std::set<std::string> others) {
    others.insert({"--slow", "--revert-after", "--noise", "--seed", "--receiver-port"});
    return others;
}

std::set<std::string> SimFlagOptions(std::set<std::string> others) {
    others.insert({"--silent", "--never-switches", "--quiet-output", "--refuse-rate", "--misses-first-try", "--wrong-ack",
                   "--revert-once", "--refuse-save"});
    return others;
}

bool ParseSimFaults(const CliArgs& args, KSimDeviceOptions& device, KSimWorldOptions& line, std::string& error) {
    long long value = 0;
    device.silent = args.Flag("--silent");
    device.neverSwitches = args.Flag("--never-switches");
    device.streaming = !args.Flag("--quiet-output");
    device.refusesRateChange = args.Flag("--refuse-rate");
    device.refusesSave = args.Flag("--refuse-save");
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
