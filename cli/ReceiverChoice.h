#pragma once
#include <cstdint>
#include <string>

// Finds a catalogue type from what a person typed: its id ("5"), its name in any case and
// spacing ("Maker X900" as "maker-x900"), or an unambiguous part of it ("x900").
// Returns 0 and explains in `error` when nothing or more than one type fits.
int32_t ChooseReceiver(const std::string& text, std::string& error);
