#pragma once
// The family registry: one row per receiver family, joining its receiver, its framer and its
// simulated receiver. Everything that needs to know about the families reads the rows; nothing
// else names a family.
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "comm/KBaudRates.h"

class KMessageReader;
class KReceiver;
class KSimDevice;
class KStreamMonitor;
struct KSimDeviceOptions;

// How long the session waits on a receiver type.
struct KTypeTimings {
    int32_t detectPingMs = 1000;
    // At this rate and below, a detection ping waits `slowPingMs` instead (0: no such rates).
    int32_t slowUpToBaud = 0;
    int32_t slowPingMs = 0;
    // After the change-rate command (and what the receiver does after one), before the reopen.
    int32_t pauseAfterChangeMs = 0;

    int32_t DetectPingMs(int32_t baud) const { return baud <= slowUpToBaud ? slowPingMs : detectPingMs; }
};

// One receiver type the user can choose.
struct KCatalogueType {
    int32_t typeId = 0;
    const char* displayName = "";
    KTypeTimings timings = {};
    // The rates the session detects and sets it at, in detection order.
    std::span<const int32_t> rates = kBaudRates;
    // What sets it apart from the family's other types beyond its rates and timings (its command
    // set, say), for the user choosing among them; empty when nothing does.
    const char* note = "";

    bool RunsAt(int32_t baud) const;
};

// A family's framer, by the names `velinor frame --protocol` takes.
struct KFamilyProtocol {
    const char* name = "";
    std::span<const char* const> aliases = {};  // accepted too, never shown
    std::unique_ptr<KStreamMonitor> (*createMonitor)() = nullptr;
    // What its messages are called and the times they carry, for one recorded stream.
    std::unique_ptr<KMessageReader> (*createReader)() = nullptr;
    // Whether its receivers' own output names the family to a listener; false where the output
    // is a protocol many makers share (plain NMEA) and only an answer to asking can.
    bool listeningProves = true;

    bool IsCalled(const std::string& text) const;
};

// A family's simulated receiver and the faults it can play beyond the ones all of them share.
struct KFamilySimulator {
    std::unique_ptr<KSimDevice> (*create)(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) = nullptr;
    // The rates it runs at when its protocol has more than the type's own; nullptr: the type's.
    std::span<const uint32_t> (*rates)(int32_t typeId) = nullptr;
    // It answers a repeated query only on the second try (--misses-first-try).
    bool missesFirstTry = false;
    // The receiver's ports the cable can be on (--receiver-port), as help text ("A-D"); nullptr
    // when it has none to choose.
    const char* receiverPorts = nullptr;
};

// What a session and `velinor time` do to the receivers' periodic output, as the user is told.
struct KFamilyOutput {
    // The session's stop command turns it off, and it stays off when the session has ended; false
    // where nothing is sent to stop it (pings are answered amid it).
    bool stopped = false;
    // How the user turns it on again, a clause to follow "to turn it on again, " (when stopped).
    const char* turnOnAgain = "";
    // Why it cannot be put back exactly as it was (--restore-output is refused for the family);
    // empty when it can.
    const char* notRestorable = "";
};

struct KReceiverFamily {
    const char* name = "";  // as `velinor receivers` shows it
    KFamilyProtocol protocol = {};
    std::vector<KCatalogueType> types = {};
    std::unique_ptr<KReceiver> (*createReceiver)(int32_t typeId, bool runReaderThread) = nullptr;
    KFamilySimulator simulator = {};
    bool queriesTime = false;  // its receivers answer QueryTime
    bool scansTime = false;    // its ScanTimeSpan reads times from recorded streams
    // For families whose receivers cannot save a rate from here (SaveSettings answers
    // NotSupported): what is known of how they keep one over a power cycle, as the end of a
    // sentence; nullptr when nothing is.
    const char* unsavedRateNote = nullptr;
    KFamilyOutput output = {};

    const KCatalogueType* Type(int32_t typeId) const;
};

// The families, in the order they were entered (the built-in rows first). A row keeps its place
// when replaced.
const std::deque<KReceiverFamily>& ReceiverFamilies();
// Adds a family, or replaces the one of the same name. Rows are entered before sessions start.
void RegisterFamily(KReceiverFamily family);

// The family that serves a catalogue type, or nullptr.
const KReceiverFamily* FamilyOfType(int32_t typeId);
// Every catalogue type in id order, and one by id (nullptr when there is none).
std::vector<const KCatalogueType*> CatalogueTypes();
const KCatalogueType* FindCatalogueType(int32_t typeId);

// A new receiver of the family that serves `typeId` (with its reader thread), or none.
std::unique_ptr<KReceiver> CreateReceiver(int32_t typeId);
// The framer of the family whose protocol has this name or alias, or none.
std::unique_ptr<KStreamMonitor> CreateStreamMonitor(const std::string& protocol);
// The message reader of the family whose protocol has this name or alias, or none.
std::unique_ptr<KMessageReader> CreateMessageReader(const std::string& protocol);
// The protocol names in alphabetical order, for help and messages: "a, b or c" with " or ".
std::string ProtocolNamesText(const char* lastSeparator);

// The built-in rows (KReceiverFamilies.cpp).
std::vector<KReceiverFamily> BuiltInFamilies();
