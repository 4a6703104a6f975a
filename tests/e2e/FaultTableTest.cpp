// Faults end to end: the real `velinor set` over the real serial link against `velinor sim`
// behind a pseudo-terminal, one receiver type of every family in the registry under each fault
// the simulator can play, and unplugged from its pseudo-terminal mid-session. Real time: the
// rows of a fault run side by side; outcomes are judged by what the program says and by its own clock, and the
// wall clock only catches a program that hangs.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "families/KReceiverFamily.h"
#include "families/KSimFactory.h"
#include "support/ChildProgram.h"
#include "support/TempDir.h"
#include "support/UnpluggableReceiver.h"

namespace {

struct Receiver {
    const char* family;
    int32_t type;
    int32_t startBaud; // where the simulated receiver runs; the session is not told
    int32_t target;
};

// The first type of every simulated family in the registry. Every one starts from 9600 where it
// runs there: at lower rates a slow receiver's answer outlasts the detection ping, which would
// measure the rate rather than the fault. The targets take turns among its three fastest rates.
std::vector<Receiver> Receivers() {
    std::vector<Receiver> receivers;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        const KCatalogueType& type = family.types.front();
        if (!KSimFactory::IsSimulated(type.typeId)) continue;
        const size_t turn = receivers.size() % std::min<size_t>(3, type.rates.size());
        receivers.push_back({family.name, type.typeId, type.RunsAt(9600) ? 9600 : type.rates.front(),
                             type.rates[type.rates.size() - 1 - turn]});
    }
    return receivers;
}

// Each bit inverted with this probability damages 1% of the 10-bit frames on the cable.
const std::string kOnePercentOfBytes = std::to_string(1.0 - std::pow(0.99, 0.1));

// Confirmed: exit 0 and "Receiver confirmed"; timed out: exit 1 and "Timed out" ("Stopped" for a
// row ended by Ctrl-C). Either: one of the two, as the line's luck has it, but always a sound end.
enum class Expect { Confirmed, TimedOut, Either };

struct Fault {
    const char* name;
    std::vector<std::string> simOptions;
    bool untilConfirmed; // else the session runs to the time limit and is judged there
    int32_t timeoutSeconds;
    Expect expect;
    // The output must show the switch, detection again, then monitoring (which the session
    // reports only after the receiver answered at the wanted rate); the row is ended as Ctrl-C
    // ends it once it has, and whether the monitoring ping then under way was answered is luck.
    bool redetects;
    // Served in-process behind a stable name instead: unplugged once the session has written to
    // it, plugged in again (answering) a moment later; the program must say so and resume.
    bool vanishes = false;
};

// clang-format off
const Fault kFaults[] = {
    // Falls back a few seconds after switching, once: monitoring loses it, detection finds it
    // at the old rate, it is switched again and answers there. The limit only ends a row that
    // never gets that far.
    {"reverts", {"--revert-after", "3000", "--revert-once"}, false, 120, Expect::Either, true},
    {"never switches", {"--never-switches"}, true, 12, Expect::TimedOut, false},
    {"refuses", {"--refuse-rate"}, true, 12, Expect::TimedOut, false},
    // Any exchange may be hit, and a lost one costs a whole ping or detection pass: most rows
    // confirm in seconds, the long exchanges (Ashtech, Novatel) may need minutes.
    {"1% bytes damaged", {"--noise", kOnePercentOfBytes, "--seed", "7"}, true, 60, Expect::Either, false},
    // A limit of a row that ends once confirmed costs nothing while all is well; on a busy
    // machine every pseudo-terminal of a row was seen to stall for a minute at once.
    {"slow (400 ms)", {"--slow", "400"}, true, 180, Expect::Confirmed, false},
    {"vanishes and returns", {}, true, 180, Expect::Confirmed, false, true},
};
// clang-format on

void PrintTo(const Fault& fault, std::ostream* os) {
    *os << fault.name;
}

// How long a row may take before the program is taken for hung and killed. A busy machine
// stretches every wait on a pseudo-terminal far beyond the program's own bounds (Stop's 10 s
// among them), so this is no measure of speed: the program's own clock judges its ends.
int32_t HungAfterMs(const Fault& fault) {
    return fault.timeoutSeconds * 1000 + 90000;
}
// The loss of a receiver is seen within a step or two of the session (a read, a write or a
// reopen meets it); this only keeps a program that never sees it from holding the row forever.
constexpr int32_t kNoticeBoundMs = 30000;

struct Outcome {
    std::string receiver;
    int exitCode = -2; // -2: did not end within its bound (killed)
    std::string finalLine;
    double seconds = 0;
    bool simulatorEnded = false;
    std::string simulatorEnd;  // how the simulator ended, when not as asked: its code and its errors
    bool redetected = false;
    bool saidGoneAndBack = false;
    std::string output;
};

// The session's last status line (the note on the receiver's output follows it).
std::string LastLine(const std::string& text) {
    std::istringstream in(text);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty() && line.rfind("Output: ", 0) != 0) last = line;
    return last;
}

// The program's own time stamp of a status line ("[   12.3 s] grey  Timed out; ..."), -1 without.
double ProgramSeconds(const std::string& line) {
    double seconds = -1;
    return std::sscanf(line.c_str(), "[ %lf s]", &seconds) == 1 ? seconds : -1;
}

// Switched, detection again, then monitoring, in the program's own lines. The receiver falls
// back a fixed time after the switch: while monitoring it, or on a busy machine while still
// pinging it at the new rate; either way detection has to find it again.
bool Redetected(const std::string& text) {
    const size_t detected = text.find("Auto-detecting");
    const size_t switched =
        text.find("Pinging receiver at", detected == std::string::npos ? text.size() : detected);
    const size_t again = text.find("Auto-detecting", switched == std::string::npos ? text.size() : switched);
    return again != std::string::npos &&
           text.find("Monitoring receiver at", again) != std::string::npos;
}

std::vector<std::string> SetArguments(const Fault& fault, const Receiver& r, const std::string& device) {
    std::vector<std::string> arguments{"set", "--receiver", std::to_string(r.type), "--port", device,
                                       "--baud", std::to_string(r.target), "--last-baud", "0",
                                       "--timeout", std::to_string(fault.timeoutSeconds)};
    if (fault.untilConfirmed) arguments.push_back("--until-confirmed");
    return arguments;
}

// Waits for `velinor set` to end within its bound (asking it to, as Ctrl-C does, once a row that
// redetects has), and notes how it ended.
void Finish(const Fault& fault, ChildProgram& set, std::chrono::steady_clock::time_point started,
            Outcome& outcome) {
    if (fault.redetects) {
        while (!set.Wait(100) && !Redetected(set.StandardOutput()) &&
               std::chrono::steady_clock::now() - started < std::chrono::milliseconds(HungAfterMs(fault))) {
            // the program's output is read again every 100 ms
        }
        set.Interrupt(0);
    }
    const auto ended = set.Wait(HungAfterMs(fault));
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.exitCode = ended ? *ended : -2;
    outcome.output = set.Output();
    outcome.finalLine = LastLine(set.StandardOutput());
    outcome.redetected = Redetected(outcome.output);
    const std::string errors = set.ErrorOutput();
    outcome.saidGoneAndBack = errors.find("device gone: ") != std::string::npos &&
                              errors.find("is back; resuming") != std::string::npos;
}

Outcome RunVanishingRow(const Fault& fault, const Receiver& r, Outcome outcome) {
    TempDir folder("velinor-vanish");
    TempDir config;
    UnpluggableReceiver receiver(folder.File("gnss"));
    std::string error;
    if (!receiver.Serve(r.type, static_cast<uint32_t>(r.startBaud), true, error)) {
        outcome.output = "no simulated receiver: " + error;
        return outcome;
    }
    const auto started = std::chrono::steady_clock::now();
    ChildProgram set(SetArguments(fault, r, receiver.Link()), config.Path());
    receiver.UnplugOnceWrittenTo(std::chrono::seconds(30));
    // Back under the same name once the program has seen it go, however long a busy machine
    // makes that take: a receiver back before the loss was seen would test nothing.
    set.WaitForError("waiting for it to come back", kNoticeBoundMs);
    if (!receiver.Serve(r.type, static_cast<uint32_t>(r.startBaud), false, error)) {
        outcome.output = "no simulated receiver the second time: " + error;
        return outcome;
    }
    Finish(fault, set, started, outcome);
    outcome.simulatorEnded = true; // in-process: it ends with the row
    return outcome;
}

Outcome RunRow(const Fault& fault, const Receiver& r) {
    Outcome outcome;
    outcome.receiver = std::string(r.family) + " (" + FindCatalogueType(r.type)->displayName + ")";
    if (fault.vanishes) return RunVanishingRow(fault, r, outcome);
    TempDir config;
    std::vector<std::string> simArguments{"sim", "--receiver", std::to_string(r.type), "--baud",
                                          std::to_string(r.startBaud)};
    simArguments.insert(simArguments.end(), fault.simOptions.begin(), fault.simOptions.end());
    ChildProgram simulator(simArguments, config.Path());
    const std::string device = simulator.FirstLine(10000);
    if (device.empty()) {
        outcome.output = "the simulator gave no device: " + simulator.Output();
        return outcome;
    }
    const auto started = std::chrono::steady_clock::now();
    ChildProgram set(SetArguments(fault, r, device), config.Path());
    Finish(fault, set, started, outcome);
    const std::optional<int> code = simulator.Interrupt(5000);
    outcome.simulatorEnded = code.value_or(-1) == 0;
    if (!outcome.simulatorEnded)
        outcome.simulatorEnd = (!code ? std::string("still running")
                                : simulator.EndingSignal() ? "killed by signal " + std::to_string(simulator.EndingSignal())
                                                           : "exit " + std::to_string(*code)) +
                               "; its errors: " + simulator.ErrorOutput();
    return outcome;
}

class FaultEndToEnd : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultEndToEnd, EveryFamilyEndsAsExpectedWithinItsBound) {
    const Fault& fault = GetParam();
    const std::vector<Receiver> receivers = Receivers();
    std::vector<Outcome> outcomes(receivers.size());
    std::vector<std::thread> rows;
    for (size_t i = 0; i < receivers.size(); ++i)
        rows.emplace_back([&, i] { outcomes[i] = RunRow(fault, receivers[i]); });
    for (std::thread& row : rows)
        row.join();

    std::ostringstream table;
    for (size_t i = 0; i < receivers.size(); ++i) {
        const Receiver& r = receivers[i];
        const Outcome& o = outcomes[i];
        if (o.receiver.empty()) continue;
        char line[256];
        std::snprintf(line, sizeof line, "| %-17s | %-30s | %4d | %6.1f s | %-45s |\n", fault.name,
                      o.receiver.c_str(), o.exitCode, o.seconds, o.finalLine.c_str());
        table << line;
        const std::string target = std::to_string(r.target);
        const bool confirmed = o.exitCode == 0;
        EXPECT_TRUE(fault.expect == Expect::Either ||
                    confirmed == (fault.expect == Expect::Confirmed))
            << o.receiver << "\n"
            << o.output;
        EXPECT_TRUE(o.exitCode == 0 || o.exitCode == 1) << o.receiver << "\n" << o.output;
        const std::string expected =
            confirmed ? "Receiver confirmed at " + target + " baud"
                      : std::string(fault.redetects ? "Stopped" : "Timed out") +
                            "; receiver not confirmed at " + target + " baud";
        EXPECT_NE(o.finalLine.find(expected), std::string::npos) << o.receiver << "\n" << o.output;
        EXPECT_TRUE(o.redetected || !fault.redetects) << o.receiver << "\n" << o.output;
        EXPECT_TRUE(o.saidGoneAndBack || !fault.vanishes) << o.receiver << "\n" << o.output;
        // By the program's own clock: a row that was not confirmed ran to its limit, never gave
        // up early. (One that confirmed ended before it: the program looks for the confirmation
        // before it looks at the time.)
        if (!confirmed && !fault.redetects) {
            EXPECT_GE(ProgramSeconds(o.finalLine), fault.timeoutSeconds) << o.receiver << "\n" << o.output;
        }
        EXPECT_TRUE(o.simulatorEnded) << o.receiver << ": the simulator did not end on Ctrl-C: " << o.simulatorEnd;
    }
    std::printf("%s", table.str().c_str());
    RecordProperty("outcomes", table.str());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultEndToEnd, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& param) {
                             std::string name;
                             for (const char* c = param.param.name; *c && *c != '('; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

} // namespace
#endif
