#pragma once
// The simulator's fault options as the command line spells them (shared by `sim` and `demo`).
#include <set>
#include <string>

#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

#define SIM_FAULT_HELP                                                                          \
    "  --silent            the receiver never answers\n"                                       \
    "  --slow MS           it answers MS milliseconds after each request\n"                    \
    "  --never-switches    it acknowledges rate changes but keeps its rate\n"                  \
    "  --revert-after MS   it goes back to its old rate MS milliseconds after switching\n"     \
    "  --revert-once       with --revert-after: only after its first switch\n"                \
    "  --quiet-output      no periodic output\n"                                               \
    "  --refuse-rate       it refuses rate changes, with the refusal its protocol has\n"       \
    "  --misses-first-try  it answers a repeated query only on the second try (Ashtech, Topcon)\n" \
    "  --wrong-ack         it acknowledges requests wrongly, where its protocol acknowledges\n" \
    "  --receiver-port P   the receiver's port the cable is on (Ashtech A-D, Topcon a-d,\n"    \
    "                      Trimble 1-4 or 18, Septentrio COM1-COM4, u-blox UART 1-2\n" \
    "                      or generation:UART as 8:2)\n" \
    "  --noise P           each bit on the cable flips with probability P (e.g. 0.0001)\n"     \
    "  --seed N            seed of the noise\n"

std::set<std::string> SimValuedOptions(std::set<std::string> others);
std::set<std::string> SimFlagOptions(std::set<std::string> others);

class CliArgs;
// Reads the fault options; false with `error` for a bad value.
bool ParseSimFaults(const CliArgs& args, KSimDeviceOptions& device, KSimWorldOptions& line, std::string& error);
