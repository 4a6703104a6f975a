#include "receivers/KUbloxReceiver.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "comm/KComm.h"
#include "monitors/KUbloxStreamMonitor.h"
#include "receivers/KByteFields.h"

using KByteFields::LittleEndian;
using KByteFields::PutLittleEndian;

namespace {
constexpr size_t kPayloadOffset = KUbloxStreamMonitor::kHeaderLength;
constexpr size_t kFrameOverhead = KUbloxStreamMonitor::kHeaderLength + KUbloxStreamMonitor::kChecksumLength;
constexpr int32_t kReplyMs = 1000;
constexpr int32_t kAcknowledgeMs = 1000;
constexpr int32_t kTimeReplyMs = 2000;
constexpr int32_t kScanMessageLimit = 200;
constexpr size_t kMonVerFixed = 40;  // software and hardware version texts
constexpr size_t kMonVerExtension = 30;
constexpr size_t kPrtBaudOffset = 8;
// CFG-CFG: save the port settings to every non-volatile device the receiver has.
constexpr uint32_t kSaveIoPort = 0x1;
constexpr uint8_t kDevicesBbrFlashEepromSpi = 0x17;

bool Is(const StreamMessage& message, uint8_t messageClass, uint8_t id) {
    return message.data != nullptr && message.length >= static_cast<int32_t>(kFrameOverhead) &&
           message.data[2] == messageClass && message.data[3] == id;
}
size_t PayloadLength(const StreamMessage& message) { return static_cast<size_t>(message.length) - kFrameOverhead; }
const uint8_t* Payload(const StreamMessage& message) { return message.data.get() + kPayloadOffset; }

// NAV-TIMEGPS: iTOW (ms), fTOW (ns), week, leap seconds, validity (bit 0 time of week, bit 1 week).
bool TimeGpsTime(const StreamMessage& message, KGPSTime& time) {
    if (!Is(message, KUbloxReceiver::kClassNav, KUbloxReceiver::kIdNavTimeGps) || PayloadLength(message) < 16)
        return false;
    const uint8_t* p = Payload(message);
    if ((p[11] & 0x03) != 0x03) return false;
    const double tow = static_cast<double>(LittleEndian(p, 4)) / 1000.0 +
                       static_cast<int32_t>(LittleEndian(p + 4, 4)) * 1e-9;
    const auto week = static_cast<int16_t>(LittleEndian(p + 8, 2));
    if (!KGPSTime::IsWeekTime(week, tow)) return false;
    time = KGPSTime(static_cast<uint32_t>(week), tow);
    return true;
}

// NAV-PVT tells GPS time of week (iTOW) and the UTC date but no week: the week is the one that
// puts iTOW within half a week of the UTC time, which the leap seconds can never move that far.
bool PvtTime(const StreamMessage& message, KGPSTime& time) {
    if (!Is(message, KUbloxReceiver::kClassNav, KUbloxReceiver::kIdNavPvt) || PayloadLength(message) < 12)
        return false;
    const uint8_t* p = Payload(message);
    if ((p[11] & 0x03) != 0x03) return false;  // date and time valid
    const auto year = static_cast<int32_t>(LittleEndian(p + 4, 2));
    if (year < 1980 || year > 2137 || p[6] < 1 || p[6] > 12 || p[7] < 1 || p[7] > 31 || p[8] > 23 || p[9] > 59 ||
        p[10] > 60)
        return false;
    const int64_t utc = KGPSTime::UTCFromYMDHMS(year, p[6], p[7], p[8], p[9], p[10]);
    const double tow = static_cast<double>(LittleEndian(p, 4)) / 1000.0;
    const double week = std::floor((static_cast<double>(utc - KGPSTime::kGpsEpoch) - tow) / KGPSTime::kSecondsPerWeek + 0.5);
    if (!KGPSTime::IsWeekTime(static_cast<int64_t>(week), tow)) return false;
    time = KGPSTime(static_cast<uint32_t>(week), tow);
    return true;
}

// RXM-RAWX: the receiver's time of week (seconds, a double) and its week.
bool RawxTime(const StreamMessage& message, KGPSTime& time) {
    if (!Is(message, KUbloxReceiver::kClassRxm, KUbloxReceiver::kIdRxmRawx) || PayloadLength(message) < 16)
        return false;
    const uint8_t* p = Payload(message);
    const double tow = KByteFields::DoubleLittleEndian(p);
    const auto week = static_cast<int64_t>(LittleEndian(p + 8, 2));
    if (!KGPSTime::IsWeekTime(week, tow)) return false;
    time = KGPSTime(static_cast<uint32_t>(week), tow);
    return true;
}

bool MessageTime(const StreamMessage& message, KGPSTime& time) {
    return TimeGpsTime(message, time) || PvtTime(message, time) || RawxTime(message, time);
}
} // namespace

KUbloxReceiver::KUbloxReceiver(bool readerThread) : KReceiver(readerThread) {
    auto owned = std::make_unique<KUbloxStreamMonitor>();
    framer = owned.get();
    monitor = std::move(owned);
}

KUbloxReceiver::~KUbloxReceiver() = default;

std::unique_ptr<KReceiver> KUbloxReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId != kTypeId) return nullptr;
    return std::make_unique<KUbloxReceiver>(runReaderThread);
}

bool KUbloxReceiver::IsRate(int32_t baud) { return std::find(kRates.begin(), kRates.end(), baud) != kRates.end(); }

int32_t KUbloxReceiver::GenerationOfProtocol(int32_t protocolMajor) {
    if (protocolMajor >= 50) return 20;
    if (protocolMajor >= 34) return 10;
    if (protocolMajor >= 24) return 9;
    return 8;
}

// Extensions are zero-padded 30-character texts such as "PROTVER=18.00" (older firmware writes
// "PROTVER 15.00").
int32_t KUbloxReceiver::ProtocolOfVersion(const uint8_t* payload, size_t length) {
    static constexpr char kKey[] = "PROTVER";
    constexpr size_t kKeyLength = sizeof kKey - 1;
    for (size_t at = kMonVerFixed; at + kMonVerExtension <= length; at += kMonVerExtension) {
        const char* text = reinterpret_cast<const char*>(payload + at);
        if (std::memcmp(text, kKey, kKeyLength) != 0) continue;
        int32_t major = 0;
        size_t i = kKeyLength + 1;  // past '=' or ' '
        for (; i < kMonVerExtension && text[i] >= '0' && text[i] <= '9' && major < 1000; ++i) major = major * 10 + (text[i] - '0');
        return i == kKeyLength + 1 ? 0 : major;
    }
    return 0;
}

void KUbloxReceiver::Reset() {
    generation = 0;
    port = 0;
    portSettings.clear();
}

bool KUbloxReceiver::SendUbx(uint8_t messageClass, uint8_t id, const std::vector<uint8_t>& payload) {
    if (link == nullptr || payload.size() > KUbloxStreamMonitor::kMaxPayload) return false;
    std::vector<uint8_t> frame = {KUbloxStreamMonitor::kSync0, KUbloxStreamMonitor::kSync1, messageClass, id, 0, 0};
    PutLittleEndian(frame.data() + 4, payload.size(), 2);
    frame.insert(frame.end(), payload.begin(), payload.end());
    const uint16_t sum = KUbloxStreamMonitor::Checksum(frame.data() + 2, frame.size() - 2);
    frame.push_back(static_cast<uint8_t>(sum));
    frame.push_back(static_cast<uint8_t>(sum >> 8));
    return Send(frame.data(), static_cast<uint32_t>(frame.size()));
}

KUbloxReceiver::Answer KUbloxReceiver::WaitForAcknowledgement(uint8_t messageClass, uint8_t id, int32_t budgetMs) {
    bool refused = false;
    const auto answer = WaitForVerdict(
        [&](const StreamMessage& message) {
            const bool ack = Is(message, kClassAck, kIdAckAck), nak = Is(message, kClassAck, kIdAckNak);
            if ((!ack && !nak) || PayloadLength(message) < 2) return Verdict::Discard;
            if (Payload(message)[0] != messageClass || Payload(message)[1] != id) return Verdict::Discard;
            refused = nak;
            return nak ? Verdict::Fail : Verdict::Take;
        },
        budgetMs);
    return answer ? Answer::Taken : refused ? Answer::Refused : Answer::None;
}

// Nothing is sent: the output goes on as the user set it up, and only what came before is
// dropped.
bool KUbloxReceiver::StopAllBroadcast(int32_t) {
    if (monitor) monitor->FlushMessages();
    return true;
}

bool KUbloxReceiver::Ping(int32_t timeoutMs) {
    if (!SendUbx(kClassMon, kIdMonVer, {})) return false;
    const auto version = WaitForReply(
        [](const StreamMessage& message) { return Is(message, kClassMon, kIdMonVer) && PayloadLength(message) >= kMonVerFixed; },
        timeoutMs);
    if (!version) return false;
    generation = GenerationOfProtocol(ProtocolOfVersion(Payload(*version), PayloadLength(*version)));
    return true;
}

bool KUbloxReceiver::LearnPort() {
    if (port != 0) return true;
    if (!SendUbx(kClassCfg, kIdCfgPrt, {})) return false;
    bool refused = false;
    const auto settings = WaitForVerdict(
        [&](const StreamMessage& message) {
            if (Is(message, kClassCfg, kIdCfgPrt) && PayloadLength(message) >= kPrtLength) return Verdict::Take;
            if (Is(message, kClassAck, kIdAckNak) && PayloadLength(message) >= 2 && Payload(message)[0] == kClassCfg &&
                Payload(message)[1] == kIdCfgPrt) {
                refused = true;
                return Verdict::Fail;
            }
            return Verdict::Discard;
        },
        kReplyMs);
    if (settings) {
        portSettings.assign(Payload(*settings), Payload(*settings) + kPrtLength);
        port = portSettings[0];
        return true;
    }
    // Generations that refuse the poll have a single UART.
    if (refused && generation >= 10) {
        port = 1;
        return true;
    }
    return false;
}

bool KUbloxReceiver::SendValset(uint8_t layers, int32_t baud) {
    // Version 0, the layers, two reserved bytes, then the key and its 4-byte value.
    std::vector<uint8_t> payload(12, 0);
    payload[1] = layers;
    PutLittleEndian(payload.data() + 4, port == 2 ? kKeyUart2Baudrate : kKeyUart1Baudrate, 4);
    PutLittleEndian(payload.data() + 8, static_cast<uint32_t>(baud), 4);
    return SendUbx(kClassCfg, kIdCfgValset, payload);
}

bool KUbloxReceiver::ChangeBaud(int32_t baud) {
    if (!IsRate(baud)) return false;
    if (generation == 0 && !Ping(kReplyMs)) return false;
    // USB, SPI and I2C have no rate to set.
    if (!LearnPort() || (port != 1 && port != 2)) return false;
    uint8_t id = kIdCfgValset;
    if (generation <= 8) {
        std::vector<uint8_t> settings = portSettings;
        PutLittleEndian(settings.data() + kPrtBaudOffset, static_cast<uint32_t>(baud), 4);
        if (!SendUbx(kClassCfg, kIdCfgPrt, settings)) return false;
        id = kIdCfgPrt;
    } else if (!SendValset(kLayerRam, baud)) {
        return false;
    }
    return WaitForAcknowledgement(kClassCfg, id, kAcknowledgeMs) != Answer::Refused;
}

bool KUbloxReceiver::SaveRate(int32_t baud) {
    if (!IsRate(baud)) return false;
    if (generation == 0 && !Ping(kReplyMs)) return false;
    if (generation <= 8) {
        std::vector<uint8_t> payload(13, 0);
        PutLittleEndian(payload.data() + 4, kSaveIoPort, 4);
        payload[12] = kDevicesBbrFlashEepromSpi;
        if (!SendUbx(kClassCfg, kIdCfgCfg, payload)) return false;
        return WaitForAcknowledgement(kClassCfg, kIdCfgCfg, kAcknowledgeMs) == Answer::Taken;
    }
    if (!LearnPort() || (port != 1 && port != 2)) return false;
    if (!SendValset(kLayerBbr | kLayerFlash, baud)) return false;
    return WaitForAcknowledgement(kClassCfg, kIdCfgValset, kAcknowledgeMs) == Answer::Taken;
}

SaveOutcome KUbloxReceiver::SaveSettings(int32_t baud) {
    return SaveRate(baud) ? SaveOutcome::Saved : SaveOutcome::Failed;
}

bool KUbloxReceiver::QueryTime(KGPSTime& time) {
    if (!SendUbx(kClassNav, kIdNavTimeGps, {})) return false;
    KGPSTime answer;
    const auto reply = WaitForReply([&](const StreamMessage& message) { return TimeGpsTime(message, answer); }, kTimeReplyMs);
    if (!reply) return false;
    time = answer;
    return true;
}

bool KUbloxReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                  bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    framer->huntCount = 0;
    return ScanRecording(
        kScanMessageLimit,
        [&](const StreamMessage& message) {
            if (!MessageTime(message, first)) return false;
            gotFirst = true;
            weekUnknown = false;
            return true;
        },
        gotFirst,
        [&](const StreamMessage& message) {
            if (MessageTime(message, last)) gotLast = true;
        });
}

namespace {

// UBX message names as the u-blox interface descriptions give them: class, then id.
struct UbxName {
    uint8_t messageClass, id;
    const char* name;
};
constexpr UbxName kUbxNames[] = {
    {0x01, 0x01, "NAV-POSECEF"}, {0x01, 0x02, "NAV-POSLLH"},  {0x01, 0x03, "NAV-STATUS"},   {0x01, 0x04, "NAV-DOP"},
    {0x01, 0x06, "NAV-SOL"},     {0x01, 0x07, "NAV-PVT"},     {0x01, 0x11, "NAV-VELECEF"},  {0x01, 0x12, "NAV-VELNED"},
    {0x01, 0x20, "NAV-TIMEGPS"}, {0x01, 0x21, "NAV-TIMEUTC"}, {0x01, 0x22, "NAV-CLOCK"},    {0x01, 0x23, "NAV-TIMEGLO"},
    {0x01, 0x24, "NAV-TIMEBDS"}, {0x01, 0x25, "NAV-TIMEGAL"}, {0x01, 0x26, "NAV-TIMELS"},   {0x01, 0x30, "NAV-SVINFO"},
    {0x01, 0x32, "NAV-SBAS"},    {0x01, 0x35, "NAV-SAT"},     {0x01, 0x3C, "NAV-RELPOSNED"}, {0x01, 0x43, "NAV-SIG"},
    {0x01, 0x61, "NAV-EOE"},     {0x02, 0x13, "RXM-SFRBX"},   {0x02, 0x15, "RXM-RAWX"},     {0x02, 0x32, "RXM-RTCM"},
    {0x04, 0x00, "INF-ERROR"},   {0x04, 0x01, "INF-WARNING"}, {0x04, 0x02, "INF-NOTICE"},   {0x04, 0x03, "INF-TEST"},
    {0x04, 0x04, "INF-DEBUG"},   {0x05, 0x00, "ACK-NAK"},     {0x05, 0x01, "ACK-ACK"},      {0x06, 0x00, "CFG-PRT"},
    {0x06, 0x01, "CFG-MSG"},     {0x06, 0x09, "CFG-CFG"},     {0x06, 0x8A, "CFG-VALSET"},   {0x06, 0x8B, "CFG-VALGET"},
    {0x0A, 0x04, "MON-VER"},     {0x0A, 0x09, "MON-HW"},      {0x0D, 0x01, "TIM-TP"},       {0x0D, 0x03, "TIM-TM2"},
};
constexpr struct {
    uint8_t messageClass;
    const char* name;
} kUbxClasses[] = {{0x01, "NAV"}, {0x02, "RXM"}, {0x04, "INF"}, {0x05, "ACK"}, {0x06, "CFG"}, {0x09, "UPD"},
                   {0x0A, "MON"}, {0x0B, "AID"}, {0x0D, "TIM"}, {0x10, "ESF"}, {0x13, "MGA"}, {0x21, "LOG"},
                   {0x27, "SEC"}, {0x28, "HNR"}};

std::string UbxNameOf(uint8_t messageClass, uint8_t id) {
    for (const UbxName& entry : kUbxNames)
        if (entry.messageClass == messageClass && entry.id == id) return entry.name;
    std::string name = HexId(messageClass, 2);
    for (const auto& entry : kUbxClasses)
        if (entry.messageClass == messageClass) name = entry.name;
    return name + "-" + HexId(id, 2);
}

class KUbxMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length < static_cast<int32_t>(kFrameOverhead)) return facts;
        facts.name = UbxNameOf(message.data[2], message.data[3]);
        const uint8_t* p = Payload(message);
        const size_t length = PayloadLength(message);
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (TimeGpsTime(message, time) || PvtTime(message, time) || RawxTime(message, time)) {
            SetTime(facts, time, KTimeScale::Gps);
        } else if (Is(message, KUbloxReceiver::kClassNav, kIdNavSol) && length >= 12) {
            // iTOW (ms), fTOW (ns), week; flags bit 2 week valid, bit 3 time of week valid.
            const double tow = static_cast<double>(LittleEndian(p, 4)) / 1000.0 +
                               static_cast<int32_t>(LittleEndian(p + 4, 4)) * 1e-9;
            const auto week = static_cast<int16_t>(LittleEndian(p + 8, 2));
            if ((p[11] & 0x0C) == 0x0C && week >= 0) SetWeekTime(facts, static_cast<uint32_t>(week), tow);
            else if (p[11] & 0x08) SetOfWeek(facts, tow);
        } else if (Is(message, KUbloxReceiver::kClassNav, kIdNavTimeUtc) && length >= 20 && (p[19] & 0x04)) {
            // A UTC date and time; its nanoseconds may be negative (the whole second rounded up).
            const double second = p[18] + static_cast<int32_t>(LittleEndian(p + 8, 4)) * 1e-9;
            if (second >= 0.0)
                SetUtc(facts, static_cast<int32_t>(LittleEndian(p + 12, 2)), p[14], p[15], p[16], p[17], second);
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override {
        return {"NAV-TIMEGPS", "NAV-PVT", "NAV-SOL", "NAV-TIMEUTC", "RXM-RAWX"};
    }

private:
    static constexpr uint8_t kIdNavSol = 0x06, kIdNavTimeUtc = 0x21;
};

} // namespace

std::unique_ptr<KMessageReader> KUbloxReceiver::CreateMessageReader() { return std::make_unique<KUbxMessageReader>(); }
