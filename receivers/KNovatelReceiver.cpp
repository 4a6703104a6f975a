#include "receivers/KNovatelReceiver.h"

#include <bit>
#include <cstring>
#include <iterator>

#include "comm/KComm.h"
#include "monitors/KNovatelStreamMonitor.h"
#include "receivers/KByteFields.h"

using KByteFields::LittleEndian;
using KByteFields::PutLittleEndian;

namespace {
constexpr uint8_t kSync[3] = {0xAA, 0x44, 0x12};
constexpr size_t kIdOffset = 4;
constexpr size_t kTypeOffset = 6;
constexpr size_t kPortOffset = 7;
constexpr size_t kLengthOffset = 8;
constexpr size_t kWeekOffset = 14;
constexpr size_t kMillisecondsOffset = 16;
constexpr size_t kPayloadOffset = KNovatelReceiver::kHeaderLength;

// The port the command arrives on, in each command's own numbering: as a port address for LOG
// and the header, as a port for COM, as that port's logs for UNLOGALL.
constexpr uint8_t kThisPortAddress = 0xC0;
constexpr uint32_t kComThisPort = 6;
constexpr uint32_t kThisPortAll = 6;  // UNLOGALL's own enumeration
constexpr uint32_t kTriggerOnce = 4;

constexpr uint16_t kUnlogAllPayload = 8;
constexpr uint16_t kLogPayload = 32;
constexpr uint16_t kComPayload = 32;
constexpr int32_t kStopReplyMs = 4000;
constexpr int32_t kTimeReplyMs = 4000;
constexpr int32_t kScanMessageLimit = 200;

bool HoldsHeader(const StreamMessage& message) {
    return message.data != nullptr && message.length >= static_cast<int32_t>(KNovatelReceiver::kHeaderLength);
}

uint16_t IdOf(const StreamMessage& message) {
    return static_cast<uint16_t>(LittleEndian(message.data.get() + kIdOffset, 2));
}

// A response saying OK, to whatever command. Its first payload byte must be there: a response
// without payload would otherwise be judged by the first byte of its CRC.
bool IsOkResponse(const StreamMessage& message) {
    const auto shortest = static_cast<int32_t>(kPayloadOffset + 1 + KNovatelReceiver::kCrcLength);
    return message.data != nullptr && message.length >= shortest &&
           message.data[kTypeOffset] == KNovatelReceiver::kTypeResponse &&
           message.data[kPayloadOffset] == KNovatelReceiver::kResponseOk;
}

bool IsTimeTagged(const StreamMessage& message) {
    if (!HoldsHeader(message)) return false;
    const uint16_t id = IdOf(message);
    return id == KNovatelReceiver::kIdRange || id == KNovatelReceiver::kIdRangeCompressed;
}

// The time of a log's header: GPS week and milliseconds of week.
KGPSTime HeaderTime(const StreamMessage& message) {
    const uint8_t* bytes = message.data.get();
    const auto week = static_cast<uint32_t>(LittleEndian(bytes + kWeekOffset, 2));
    const auto milliseconds = static_cast<uint32_t>(LittleEndian(bytes + kMillisecondsOffset, 4));
    return KGPSTime(week, milliseconds / 1000.0);
}
} // namespace

KNovatelReceiver::KNovatelReceiver(bool readerThread) : KReceiver(readerThread), command{} {
    auto owned = std::make_unique<KNovatelStreamMonitor>();
    framer = owned.get();
    monitor = std::move(owned);
}

KNovatelReceiver::~KNovatelReceiver() = default;

std::unique_ptr<KReceiver> KNovatelReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId != 9) return nullptr;
    return std::make_unique<KNovatelReceiver>(runReaderThread);
}

bool KNovatelReceiver::SendCommand(const uint8_t* payload, uint16_t payloadLength, uint16_t messageId) {
    if (payload == nullptr || payloadLength > kMaxPayload || link == nullptr) return false;
    std::memset(command, 0, sizeof command);
    std::memcpy(command, kSync, sizeof kSync);
    command[3] = kHeaderLength;
    PutLittleEndian(command + kIdOffset, messageId, 2);
    command[kPortOffset] = kThisPortAddress;
    PutLittleEndian(command + kLengthOffset, payloadLength, 2);
    // Dated with the PC clock in whole seconds, without leap seconds. Message type, sequence,
    // idle time, time status, receiver status and software version stay 0.
    const KGPSTime now;
    PutLittleEndian(command + kWeekOffset, now.GetGPSWeek(), 2);
    PutLittleEndian(command + kMillisecondsOffset, static_cast<uint32_t>(now.GetSecondsOfWeek()) * 1000u, 4);
    std::memcpy(command + kPayloadOffset, payload, payloadLength);
    const size_t crcOffset = kPayloadOffset + payloadLength;
    PutLittleEndian(command + crcOffset, KNovatelStreamMonitor::Crc(command, crcOffset), kCrcLength);
    return Send(command, static_cast<uint32_t>(crcOffset + kCrcLength));
}

bool KNovatelReceiver::SendLogRequest(uint16_t logId) {
    uint8_t payload[kLogPayload] = {};
    PutLittleEndian(payload, kThisPortAddress, 4);
    PutLittleEndian(payload + 4, logId, 2);
    // Binary log, reserved byte, then the trigger; period, offset and hold stay 0.
    PutLittleEndian(payload + 8, kTriggerOnce, 4);
    PutLittleEndian(payload + 12, std::bit_cast<uint64_t>(0.0), 8);
    PutLittleEndian(payload + 20, std::bit_cast<uint64_t>(0.0), 8);
    return SendCommand(payload, kLogPayload, kIdLog);
}

bool KNovatelReceiver::WaitForOk(int32_t budgetMs) {
    return WaitForReply(IsOkResponse, budgetMs) != nullptr;
}

std::unique_ptr<StreamMessage> KNovatelReceiver::WaitForMessage(uint16_t messageId, int32_t budgetMs) {
    return WaitForReply(
        [messageId](const StreamMessage& message) { return HoldsHeader(message) && IdOf(message) == messageId; },
        budgetMs);
}

// The receiver's acknowledgement is the whole wait: the settle time is not used, and what it
// sent before obeying is left for later waits to drop.
bool KNovatelReceiver::StopAllBroadcast(int32_t) {
    uint8_t payload[kUnlogAllPayload] = {};
    // Only the port the PC is cabled to: a base station's corrections on its other ports go on.
    PutLittleEndian(payload, kThisPortAll, 4);  // held logs are not cleared: flag 0
    if (!SendCommand(payload, kUnlogAllPayload, kIdUnlogAll)) return false;
    return WaitForOk(kStopReplyMs);
}

bool KNovatelReceiver::QueryTime(KGPSTime& time) {
    if (!SendLogRequest(kIdTime)) return false;
    const std::unique_ptr<StreamMessage> log = WaitForMessage(kIdTime, kTimeReplyMs);
    if (!log) return false;
    time = HeaderTime(*log);
    return true;
}

// The VERSION log that follows the response is not awaited; later waits drop it.
bool KNovatelReceiver::Ping(int32_t timeoutMs) {
    if (!SendLogRequest(kIdVersion)) return false;
    return WaitForOk(timeoutMs);
}

// No response is awaited: the session reopens the link at the new rate straight away.
bool KNovatelReceiver::ChangeBaud(int32_t baud) {
    if (!IsRate(baud)) return false;
    const uint32_t fields[] = {kComThisPort, static_cast<uint32_t>(baud), 0 /* no parity */, 8 /* data bits */,
                               1 /* stop bit */, 0 /* no handshake */, 0 /* no echo */, 1 /* break detection */};
    uint8_t payload[kComPayload] = {};
    for (size_t i = 0; i < std::size(fields); ++i) PutLittleEndian(payload + 4 * i, fields[i], 4);
    return SendCommand(payload, kComPayload, kIdCom);
}

bool KNovatelReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                    bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    // The scan limit counts from here, not from whatever was hunted before.
    framer->huntCount = 0;
    return ScanRecording(
        kScanMessageLimit,
        [&](const StreamMessage& message) {
            if (!IsTimeTagged(message)) return false;
            first = HeaderTime(message);
            gotFirst = true;
            weekUnknown = false;
            return true;
        },
        gotFirst,
        [&](const StreamMessage& message) {
            if (!IsTimeTagged(message)) return;
            last = HeaderTime(message);
            gotLast = true;
        });
}

namespace {

// Novatel logs by name where known, else by number ("log128"); names hold no blanks, as frame prints them in a column. Every log header carries the
// GPS week and milliseconds of week; a time status of UNKNOWN says the receiver has no time yet.
class KNovatelMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (!HoldsHeader(message)) return facts;
        facts.name = NameOf(IdOf(message));
        if (message.data[kTypeOffset] & KNovatelReceiver::kTypeResponse) facts.name += "-response";
        if (message.data[kTimeStatusOffset] != kTimeStatusUnknown) {
            const KGPSTime time = HeaderTime(message);
            if (time.GetGPSWeek() != 0) SetWeekTime(facts, time.GetGPSWeek(), time.GetSecondsOfWeek());
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"every log's header"}; }

private:
    static constexpr size_t kTimeStatusOffset = 13;
    static constexpr uint8_t kTimeStatusUnknown = 20;

    static std::string NameOf(uint16_t id) {
        static constexpr struct {
            uint16_t id;
            const char* name;
        } kNames[] = {{1, "LOG"},       {4, "COM"},      {7, "GPSEPHEM"},    {8, "IONUTC"},
                      {37, "VERSION"},  {38, "UNLOGALL"}, {41, "RAWEPHEM"},   {42, "BESTPOS"},
                      {43, "RANGE"},    {99, "BESTVEL"}, {101, "TIME"},       {140, "RANGECMP"},
                      {241, "BESTXYZ"}, {723, "GLOEPHEMERIS"}, {726, "BESTUTM"}, {1194, "BESTSATS"}};
        for (const auto& entry : kNames)
            if (entry.id == id) return entry.name;
        return "log" + std::to_string(id);
    }
};

} // namespace

std::unique_ptr<KMessageReader> KNovatelReceiver::CreateMessageReader() {
    return std::make_unique<KNovatelMessageReader>();
}
