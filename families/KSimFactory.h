#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

// Simulated receivers by catalogue type id, as the receiver families provide them, for
// `velinor sim`, `velinor demo` and the tests.
namespace KSimFactory {

bool IsSimulated(int32_t typeId);
// Every catalogue type that has a simulated receiver, in catalogue order.
std::vector<int32_t> SimulatedTypes();
// The rates the simulated receiver of a type can run at, and the same as text ("1200, 2400 or 4800").
std::vector<uint32_t> Rates(int32_t typeId);
std::string RatesText(int32_t typeId);

// A new device of `typeId` running at `baud`, under the type's catalogue name, or nullptr with
// `error` saying why (unknown type, not simulated, a rate the model cannot run at, an option the
// model does not take).
std::unique_ptr<KSimDevice> CreateDevice(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                         std::string& error);
// The same device in a world of its own.
std::unique_ptr<KSimWorld> CreateWorld(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                       const KSimWorldOptions& worldOptions, std::string& error);

} // namespace KSimFactory
