#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class KReceiver;
class KSimDevice;
struct KSimDeviceOptions;

// One receiver family: the catalogue types it serves, how its receiver is made, and how its
// simulated receiver is made and at which rates that one can run. Everything else about the
// protocol lives in the family's own files.
struct KReceiverFamily {
    const char* name;      // "Ashtech"
    const char* protocol;  // its framer's short name, as `velinor frame --protocol` takes it
    std::vector<int32_t> typeIds;
    std::unique_ptr<KReceiver> (*createReceiver)(int32_t typeId, bool runReaderThread);
    std::unique_ptr<KSimDevice> (*createDevice)(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);
    std::span<const uint32_t> (*deviceRates)(int32_t typeId);
    bool queriesTime;  // its receivers answer QueryTime
    bool scansTime;    // its ScanTimeSpan reads times from recorded streams

    bool Serves(int32_t typeId) const;
    bool DeviceRunsAt(int32_t typeId, uint32_t baud) const;
};

// The families built into the program, one row each.
const std::vector<KReceiverFamily>& ReceiverFamilies();
// The family that serves a catalogue type, or nullptr.
const KReceiverFamily* FamilyOfType(int32_t typeId);
