#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

// Simulated receivers by catalogue type id (1..14), for `velinor sim --receiver NAME --baud RATE`
// and `velinor demo`. Only the Leica types (4 CRS1000, 5 GMX900, 6 GPS1200, 7 System 500) are
// simulated so far; the others answer "<name> is not simulated yet".
namespace KSimFactory {

// The catalogue's display name of a type id, or "" outside 1..14.
std::string ReceiverName(int32_t typeId);
// The type id named by `text`: a type id in digits, a display name (any case), or a part of
// one that fits a single name ("gmx900"); 0 when nothing or more than one fits.
int32_t TypeIdOf(const std::string& text);
bool IsSimulated(int32_t typeId);

// A new device of `typeId` running at `baud`, or nullptr with `error` saying why (unknown
// type, not simulated yet, a rate the model cannot run at).
std::unique_ptr<KSimDevice> CreateDevice(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                         std::string& error);
// The same device in a world of its own.
std::unique_ptr<KSimWorld> CreateWorld(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                       const KSimWorldOptions& worldOptions, std::string& error);

} // namespace KSimFactory
