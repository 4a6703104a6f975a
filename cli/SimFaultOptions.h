#pragma once
// The simulator's fault options as the command line spells them (shared by `sim` and `demo`).
#include <string>

#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

class CommandLine;
class ParsedWords;

// The heading the fault options are listed under in the help.
inline constexpr const char* kFaultGroup = "Faults of the simulated receiver (as real ones misbehave)";

// Defines the fault options on `line`; the families that take a family-specific one are named
// from the registry.
void DefineSimFaults(CommandLine& line);

// Reads the fault options; false with `error` for a bad value.
bool ParseSimFaults(const ParsedWords& words, KSimDeviceOptions& device, KSimWorldOptions& line, std::string& error);
