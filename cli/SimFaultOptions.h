#pragma once
// The simulator's fault options as the command line spells them (shared by `sim` and `demo`).
#include <set>
#include <string>

#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

// The help lines of the fault options; the families that take a family-specific one are named
// from the registry.
std::string SimFaultHelp();

std::set<std::string> SimValuedOptions(std::set<std::string> others);
std::set<std::string> SimFlagOptions(std::set<std::string> others);

class CliArgs;
// Reads the fault options; false with `error` for a bad value.
bool ParseSimFaults(const CliArgs& args, KSimDeviceOptions& device, KSimWorldOptions& line, std::string& error);
