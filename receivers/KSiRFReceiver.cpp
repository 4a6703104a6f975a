#include "receivers/KSiRFReceiver.h"

#include <bit>
#include <cstring>

#include "comm/KComm.h"
#include "monitors/KSiRFStreamMonitor.h"
#include "receivers/KByteFields.h"
#include "time/KClock.h"

namespace {

constexpr size_t kIdOffset = 4;
constexpr size_t kTrailerBytes = 4;  // checksum and end sequence
constexpr int32_t kClockReplyMs = 3000;
constexpr int32_t kScanMessageLimit = 200;

// Field offsets, counted from the first start byte.
constexpr size_t kAckedIdOffset = 5;
constexpr size_t kClockWeekOffset = 5;
constexpr size_t kClockBiasOffset = 16;
constexpr size_t kClockEstimateOffset = 20;
constexpr size_t kSoftwareTimeOffset = 11;
constexpr size_t kTimeWeekOffset = 36;
constexpr size_t kTimeSecondsOffset = 44;

uint8_t IdOf(const StreamMessage& message) {
    return message.length > static_cast<int32_t>(kIdOffset) ? message.data[kIdOffset] : 0;
}

// Where the fields read from a message of `id` end.
size_t FieldsEnd(uint8_t id) {
    switch (id) {
    case KSiRFReceiver::kIdAck: return kAckedIdOffset + 1;
    case KSiRFReceiver::kIdClockStatus: return kClockEstimateOffset + 4;
    case KSiRFReceiver::kIdNavLibMeasurement: return kSoftwareTimeOffset + 8;
    case KSiRFReceiver::kIdTime: return kTimeSecondsOffset + 8;
    default: return kIdOffset + 1;
    }
}

bool IsMessage(const StreamMessage* message, uint8_t id) {
    return message != nullptr && message->data != nullptr && IdOf(*message) == id &&
           KSiRFReceiver::HoldsFields(*message);
}

// The week (32 bits) and seconds of week (a double) of a time message (0xFA), both least
// significant byte first.
KGPSTime TimeOfTimeMessage(const StreamMessage& message) {
    const uint8_t* data = message.data.get();
    return KGPSTime(static_cast<uint32_t>(KByteFields::LittleEndian(data + kTimeWeekOffset, 4)),
                    KByteFields::DoubleLittleEndian(data + kTimeSecondsOffset));
}

} // namespace

KSiRFReceiver::KSiRFReceiver(bool readerThread) : KReceiver(readerThread), packet{} {
    monitor = std::make_unique<KSiRFStreamMonitor>();
}

KSiRFReceiver::~KSiRFReceiver() = default;

std::unique_ptr<KReceiver> KSiRFReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId != 10) return nullptr;
    return std::make_unique<KSiRFReceiver>(runReaderThread);
}

bool KSiRFReceiver::SendPacket(const uint8_t* payload, uint16_t payloadLength) {
    if (payload == nullptr || payloadLength > kMaxPayload || link == nullptr) return false;
    std::memset(packet, 0, sizeof packet);
    packet[0] = KSiRFStreamMonitor::kStart0;
    packet[1] = KSiRFStreamMonitor::kStart1;
    packet[2] = static_cast<uint8_t>(payloadLength >> 8);
    packet[3] = static_cast<uint8_t>(payloadLength & 0xFF);
    std::memcpy(packet + kIdOffset, payload, payloadLength);
    uint16_t sum = 0;
    for (uint16_t i = 0; i < payloadLength; ++i) sum = static_cast<uint16_t>(sum + payload[i]);
    sum &= 0x7FFF;
    packet[kIdOffset + payloadLength] = static_cast<uint8_t>(sum >> 8);
    packet[kIdOffset + payloadLength + 1] = static_cast<uint8_t>(sum & 0xFF);
    packet[kIdOffset + payloadLength + 2] = KSiRFStreamMonitor::kEnd0;
    packet[kIdOffset + payloadLength + 3] = KSiRFStreamMonitor::kEnd1;
    return Send(packet, static_cast<uint32_t>(payloadLength) + 8);
}

bool KSiRFReceiver::HoldsFields(const StreamMessage& message) {
    if (message.data == nullptr || message.length < 0) return false;
    return FieldsEnd(IdOf(message)) + kTrailerBytes <= static_cast<size_t>(message.length);
}

std::unique_ptr<StreamMessage> KSiRFReceiver::WaitForAck(uint8_t ackedId, int32_t budgetMs) {
    return WaitForReply(
        [ackedId](const StreamMessage& message) {
            return IsMessage(&message, kIdAck) && message.data[kAckedIdOffset] == ackedId;
        },
        budgetMs);
}

std::unique_ptr<StreamMessage> KSiRFReceiver::WaitForMessage(uint8_t messageId, int32_t budgetMs) {
    return WaitForReply([messageId](const StreamMessage& message) { return IsMessage(&message, messageId); },
                        budgetMs);
}

bool KSiRFReceiver::StopAllBroadcast(int32_t settleMs) {
    // One packet straight after the other: the receiver takes them as they come.
    for (uint8_t id : kSilencedIds) {
        const uint8_t payload[8] = {kIdSetMessageRate, 0x00, id, 0x00, 0x00, 0x00, 0x00, 0x00};
        if (!SendPacket(payload, sizeof payload)) return false;
    }
    KClock::Current().Sleep(settleMs);
    monitor->FlushMessages();
    return true;
}

bool KSiRFReceiver::QueryTime(KGPSTime& time) {
    const uint8_t payload[2] = {kIdPollClockStatus, 0x00};
    if (!SendPacket(payload, sizeof payload)) return false;
    const std::unique_ptr<StreamMessage> status = WaitForMessage(kIdClockStatus, kClockReplyMs);
    return status && DecodeClockStatus(status.get(), time);
}

bool KSiRFReceiver::Ping(int32_t timeoutMs) {
    const uint8_t payload[2] = {kIdPollVersion, 0x00};
    if (!SendPacket(payload, sizeof payload)) return false;
    return WaitForAck(kIdPollVersion, timeoutMs) != nullptr;
}

bool KSiRFReceiver::ChangeBaud(int32_t baud) {
    // Any rate goes out as it is, but one that is not a positive number is no rate at all.
    if (!IsRate(baud)) return false;
    const uint32_t rate = static_cast<uint32_t>(baud);
    const uint8_t payload[9] = {kIdSetSerialPort,
                                static_cast<uint8_t>(rate >> 24),
                                static_cast<uint8_t>(rate >> 16),
                                static_cast<uint8_t>(rate >> 8),
                                static_cast<uint8_t>(rate),
                                0x08,   // data bits
                                0x01,   // stop bits
                                0x00,   // no parity
                                0x00};
    return SendPacket(payload, sizeof payload);
}

bool KSiRFReceiver::DecodeClockStatus(const StreamMessage* message, KGPSTime& time) {
    if (!IsMessage(message, kIdClockStatus)) return false;
    const uint8_t* data = message->data.get();
    const uint32_t week = static_cast<uint32_t>(data[kClockWeekOffset]) << 8 | data[kClockWeekOffset + 1];
    const auto biasNs = static_cast<int32_t>(KByteFields::BigEndian(data + kClockBiasOffset, 4));
    const auto estimateMs = static_cast<int32_t>(KByteFields::BigEndian(data + kClockEstimateOffset, 4));
    time = KGPSTime(week, estimateMs / 1000.0 + biasNs / 1000000000.0);
    return true;
}

double KSiRFReceiver::DecodeSoftwareTime(const StreamMessage* message) {
    if (!IsMessage(message, kIdNavLibMeasurement)) return 0.0;
    // Its low 32 bits come first, then its high 32 bits, each most significant byte first.
    const uint8_t* data = message->data.get() + kSoftwareTimeOffset;
    const uint64_t bits = KByteFields::BigEndian(data + 4, 4) << 32 | KByteFields::BigEndian(data, 4);
    return std::bit_cast<double>(bits);
}

bool KSiRFReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                 bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    // A measurement's software time carries no week: it stands in until a message with a week
    // comes, which ends the pass.
    const auto onFirstPass = [&](const StreamMessage& message) {
        if (!HoldsFields(message)) return false;
        switch (IdOf(message)) {
        case kIdTime: first = TimeOfTimeMessage(message); break;
        case kIdClockStatus: DecodeClockStatus(&message, first); break;
        case kIdNavLibMeasurement:
            first = KGPSTime(0u, DecodeSoftwareTime(&message));
            gotFirst = true;
            weekUnknown = true;
            return false;
        default: return false;
        }
        gotFirst = true;
        weekUnknown = false;
        return true;
    };
    const auto onLastPass = [&](const StreamMessage& message) {
        KGPSTime decoded(KGPSTime::kGpsEpoch);
        if (!DecodeClockStatus(&message, decoded)) return;
        // Without a week for the first time, the last one must not bring its own: the span
        // would run from 1980 to today.
        last = weekUnknown ? KGPSTime(first.GetGPSWeek(), decoded.GetSecondsOfWeek()) : decoded;
        gotLast = true;
    };
    return ScanRecording(kScanMessageLimit, onFirstPass, gotFirst, onLastPass);
}

namespace {

// SiRF binary messages by id ("0x29"). Times from 0x02 (measured navigation: a week modulo 1024
// and time of week, once there is a fix), 0x29 (geodetic navigation: GPS week and time of week,
// and the UTC date and time, when the navigation is valid), 0x34 (the time of the last pulse,
// GPS or UTC as its status says), 0x07 (clock status), 0xFA (time) and 0x1C (measurement time
// of week). Offsets count from the first start byte; the payload begins at 4.
class KSiRFMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length <= static_cast<int32_t>(kIdOffset + kTrailerBytes))
            return facts;
        const uint8_t id = IdOf(message);
        facts.name = HexId(id, 2);
        const uint8_t* d = message.data.get();
        const auto holds = [&](size_t end) { return static_cast<size_t>(message.length) >= end + kTrailerBytes; };
        using KByteFields::BigEndian;
        KGPSTime time(KGPSTime::kGpsEpoch);
        switch (id) {
        case 0x02:
            // Mode 1's low three bits: the kind of fix; without one the time is the receiver's guess.
            if (holds(32) && (d[23] & 0x07) != 0)
                SetWeekModulo1024(facts, static_cast<uint32_t>(BigEndian(d + 26, 2)), BigEndian(d + 28, 4) / 100.0);
            break;
        case 0x29: {
            if (!holds(23) || BigEndian(d + 5, 2) != 0 || (d[8] & 0x07) == 0) break;
            const auto week = static_cast<uint32_t>(BigEndian(d + 9, 2));
            const double tow = BigEndian(d + 11, 4) / 1000.0;
            const auto year = static_cast<int32_t>(BigEndian(d + 15, 2));
            // Older firmware counts the week modulo 1024 and leaves the UTC fields empty.
            if (week >= 1024 || year == 0 ||
                !SetUtc(facts, year, d[17], d[18], d[19], d[20], BigEndian(d + 21, 2) / 1000.0))
                SetWeekModulo1024(facts, week, tow);
            break;
        }
        case 0x34: {
            if (!holds(19) || (d[18] & 0x01) == 0) break;
            const auto year = static_cast<int32_t>(BigEndian(d + 10, 2));
            if (d[18] & 0x02) {
                SetUtc(facts, year, d[9], d[8], d[5], d[6], d[7]);
            } else if (d[7] < 60) {
                // GPS time in calendar fields: no leap seconds to add.
                const int64_t count = KGPSTime::UTCFromYMDHMS(year, d[9], d[8], d[5], d[6], d[7]);
                if (year >= 1980 && year <= 2038 && d[9] >= 1 && d[9] <= 12 && d[8] >= 1 && d[5] < 24 && d[6] < 60 &&
                    count >= KGPSTime::kGpsEpoch)
                    SetTime(facts, KGPSTime(static_cast<int32_t>(count)), KTimeScale::Gps);
            }
            break;
        }
        case KSiRFReceiver::kIdClockStatus:
            if (KSiRFReceiver::DecodeClockStatus(&message, time))
                SetWeekModulo1024(facts, time.GetGPSWeek(), time.GetSecondsOfWeek());
            break;
        case KSiRFReceiver::kIdTime:
            if (KSiRFReceiver::HoldsFields(message)) {
                time = TimeOfTimeMessage(message);
                SetWeekTime(facts, time.GetGPSWeek(), time.GetSecondsOfWeek());
            }
            break;
        case KSiRFReceiver::kIdNavLibMeasurement:
            if (KSiRFReceiver::HoldsFields(message)) SetOfWeek(facts, KSiRFReceiver::DecodeSoftwareTime(&message));
            break;
        default: break;
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override {
        return {"0x02", "0x29", "0x34", "0x07", "0xfa", "0x1c"};
    }
};

} // namespace

std::unique_ptr<KMessageReader> KSiRFReceiver::CreateMessageReader() { return std::make_unique<KSiRFMessageReader>(); }
