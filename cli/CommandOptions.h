#pragma once
// What each command's parse step makes of its words: plain options, checked as far as the words
// alone can say (a receiver named is one of the catalogue, a number is a number), before
// anything is opened or run.
#include <cstdint>
#include <optional>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "sim/KSimDevice.h"
#include "sim/KSimWorld.h"

struct KReceiverFamily;

// receivers, ports
struct ListOptions {
    bool json = false;
    bool operator==(const ListOptions&) const = default;
};
Parsed<ListOptions> ParseReceivers(const Words& words);
Parsed<ListOptions> ParsePorts(const Words& words);

// How `frame` prints each message: name, length, time and hex; the length and hex only; a
// JSON object.
enum class FrameFormat { Named, Hex, Json };

struct FrameOptions {
    const KReceiverFamily* family = nullptr;
    std::string file;
    bool streamErrors = false;
    FrameFormat format = FrameFormat::Named;
    bool operator==(const FrameOptions&) const = default;
};
Parsed<FrameOptions> ParseFrame(const Words& words);

struct ScanOptions {
    int32_t type = 0;
    std::string file;
    bool json = false;
    bool operator==(const ScanOptions&) const = default;
};
Parsed<ScanOptions> ParseScan(const Words& words);

struct DoctorOptions {
    std::string port;  // empty: every port present, without listening
    bool json = false;
    bool operator==(const DoctorOptions&) const = default;
};
Parsed<DoctorOptions> ParseDoctor(const Words& words);

struct IdentifyOptions {
    std::string port;
    bool listenOnly = false;
    bool json = false;
    bool verbose = false;
    bool operator==(const IdentifyOptions&) const = default;
};
Parsed<IdentifyOptions> ParseIdentify(const Words& words);

struct TimeOptions {
    int32_t type = 0;
    std::string port;
    long long baud = 0;
    bool verbose = false;
    bool json = false;
    bool restoreOutput = false;
    bool operator==(const TimeOptions&) const = default;
};
Parsed<TimeOptions> ParseTime(const Words& words);

struct SetOptions {
    int32_t receiverType = 0;  // 0: the last one used
    std::string port;          // empty: the last one used
    std::optional<long long> baud, lastBaud, timeout;
    bool untilConfirmed = false;
    bool save = false;
    bool restoreOutput = false;
    bool verbose = false;
    bool streamErrors = false;
    bool operator==(const SetOptions&) const = default;
};
Parsed<SetOptions> ParseSet(const Words& words);

struct WatchOptions {
    std::string port;
    long long baud = 0;     // 0: the first rate where a protocol is heard
    long long seconds = 0;  // 0: until Ctrl-C
    bool json = false;
    bool operator==(const WatchOptions&) const = default;
};
Parsed<WatchOptions> ParseWatch(const Words& words);

struct FleetOptions {
    std::string file;
    int jobs = 0;  // 0: all at once
    double timeoutSeconds = 0;
    bool json = false;
    bool operator==(const FleetOptions&) const = default;
};
Parsed<FleetOptions> ParseFleet(const Words& words);

inline constexpr long long kDemoTimeoutSeconds = 180;

struct DemoOptions {
    int32_t type = 0;  // 0: one at random
    std::optional<long long> baud, startBaud;
    long long timeout = kDemoTimeoutSeconds;
    KSimDeviceOptions device;
    KSimWorldOptions line;
    bool seeded = false;
};
Parsed<DemoOptions> ParseDemo(const Words& words);

struct SimOptions {
    int32_t type = 0;    // a simulated receiver of this type,
    std::string replay;  // or, when not empty, the recording to play
    long long baud = 0;
    KSimDeviceOptions device;
    KSimWorldOptions line;
};
Parsed<SimOptions> ParseSim(const Words& words);
