#include "receivers/KNavComReceiver.h"

#include <cstring>

#include "comm/KComm.h"
#include "log/DebugTrace.h"
#include "receivers/KByteFields.h"
#include "monitors/KNavComStreamMonitor.h"
#include "time/KClock.h"

namespace {
constexpr size_t kIdOffset = 3;
constexpr size_t kPayloadOffset = 6;
constexpr size_t kTrailerBytes = 2;  // checksum and ETX
constexpr uint16_t kCommandPayload = 6;
constexpr int32_t kTimeReplyMs = 10000;
constexpr int32_t kAckMs = 2000;
constexpr int32_t kSwitchPauseMs = 2000;
constexpr int32_t kScanMessageLimit = 200;

struct SpeedCodeRow {
    int32_t baud;
    uint8_t code;
};
constexpr SpeedCodeRow kSpeedCodes[] = {{1200, 0},   {2400, 2},   {4800, 4},   {9600, 6},
                                        {19200, 8},  {38400, 10}, {57600, 12}, {115200, 14}};

uint8_t IdOf(const StreamMessage& message) {
    return message.length > static_cast<int32_t>(kIdOffset) ? message.data[kIdOffset] : 0;
}

// Whether the payload holds `width` bytes at frame offset `offset`: fields never run into the
// checksum and ETX, let alone past the message.
bool Holds(const StreamMessage& message, size_t offset, size_t width) {
    return message.length >= 0 && offset + width + kTrailerBytes <= static_cast<size_t>(message.length);
}

// The bytes a wanted reply must hold to be read: an acknowledgement names the acknowledged ID,
// a time answer carries week and seconds.
size_t FieldsEnd(uint8_t messageId) {
    switch (messageId) {
    case KNavComReceiver::kIdAck: return kPayloadOffset + 1;
    case KNavComReceiver::kIdTime: return kPayloadOffset + 2 + 8;
    default: return kPayloadOffset;
    }
}
} // namespace

KNavComReceiver::KNavComReceiver(bool readerThread) : KReceiver(readerThread), packet{} {
    monitor = std::make_unique<KNavComStreamMonitor>();
}

KNavComReceiver::~KNavComReceiver() = default;

std::unique_ptr<KReceiver> KNavComReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId != 8) return nullptr;
    return std::make_unique<KNavComReceiver>(runReaderThread);
}

uint8_t KNavComReceiver::SpeedCode(int32_t baud) {
    for (const SpeedCodeRow& row : kSpeedCodes)
        if (row.baud == baud) return row.code;
    return kNoSpeedCode;
}

bool KNavComReceiver::SendPacket(const uint8_t* payload, uint8_t messageId, uint16_t payloadLength) {
    if (payload == nullptr || payloadLength > kMaxPayload || link == nullptr) return false;
    std::memset(packet, 0, sizeof packet);
    const uint16_t length = static_cast<uint16_t>(payloadLength + 4);
    packet[0] = KNavComStreamMonitor::kSync0;
    packet[1] = KNavComStreamMonitor::kSync1;
    packet[2] = KNavComStreamMonitor::kSync2;
    packet[3] = messageId;
    packet[4] = static_cast<uint8_t>(length & 0xFF);
    packet[5] = static_cast<uint8_t>(length >> 8);
    std::memcpy(packet + kPayloadOffset, payload, payloadLength);
    uint8_t checksum = 0;
    for (size_t i = kIdOffset; i < kPayloadOffset + payloadLength; ++i) checksum ^= packet[i];
    packet[kPayloadOffset + payloadLength] = checksum;
    packet[kPayloadOffset + payloadLength + 1] = KNavComStreamMonitor::kEtx;
    return Send(packet, static_cast<uint32_t>(payloadLength) + 8);
}

bool KNavComReceiver::SendOutputRequest(uint8_t wantedId) {
    const uint8_t payload[kCommandPayload] = {0x04, 0x00, wantedId, 0x02, 0x00, 0x00};
    return SendPacket(payload, kIdOutputRequest, kCommandPayload);
}

std::unique_ptr<StreamMessage> KNavComReceiver::WaitForReply(uint8_t messageId, uint8_t ackedId,
                                                             int32_t budgetMs) {
    const size_t fieldsEnd = FieldsEnd(messageId);
    return WaitForVerdict(
        [&](const StreamMessage& message) {
            const uint8_t id = IdOf(message);
            if (id == kIdNak) {
                // A refusal too short to say what it refused reports zeros rather than its trailer.
                const uint8_t refused = Holds(message, kPayloadOffset, 1) ? message.data[kPayloadOffset] : 0;
                const uint8_t error = Holds(message, kPayloadOffset + 1, 1) ? message.data[kPayloadOffset + 1] : 0;
                DebugTrace("NavCom NAK received for message %d.  Error code %d\n", refused, error);
                return Verdict::Fail;
            }
            if (id != messageId || !Holds(message, 0, fieldsEnd)) return Verdict::Discard;
            if (messageId == kIdAck && message.data[kPayloadOffset] != ackedId) return Verdict::Discard;
            return Verdict::Take;
        },
        budgetMs);
}

bool KNavComReceiver::StopAllBroadcast(int32_t settleMs) {
    if (!SendOutputRequest(0)) return false;
    KClock::Current().Sleep(settleMs);
    monitor->FlushMessages();
    return true;
}

bool KNavComReceiver::QueryTime(KGPSTime& time) {
    if (!SendOutputRequest(kIdTime)) return false;
    const std::unique_ptr<StreamMessage> answer = WaitForReply(kIdTime, 0, kTimeReplyMs);
    if (!answer) return false;
    const uint8_t* fields = answer->data.get() + kPayloadOffset;
    const auto week = static_cast<uint32_t>(KByteFields::LittleEndian(fields, 2));
    const double seconds = KByteFields::DoubleLittleEndian(fields + 2);
    // A NaN or negative second is no answer: it would otherwise read as 1980-01-06.
    if (!KGPSTime::IsWeekTime(week, seconds)) return false;
    time = KGPSTime(week, seconds);
    return true;
}

bool KNavComReceiver::Ping(int32_t timeoutMs) {
    if (!SendOutputRequest(kIdPortSettings)) return false;
    if (!WaitForReply(kIdPortSettings, 0, timeoutMs)) return false;
    monitor->FlushMessages();
    return true;
}

bool KNavComReceiver::ChangeBaud(int32_t baud) {
    const uint8_t code = SpeedCode(baud);
    if (code == kNoSpeedCode) {
        DebugTrace("NavCom receiver:  Couldn't set baud - no command byte found... \n");
        return false;
    }
    const uint8_t payload[kCommandPayload] = {0x04, code, 0x00, static_cast<uint8_t>(code | 1), 0x00, 0x00};
    if (!SendPacket(payload, kIdPortSettings, kCommandPayload)) return false;
    if (!WaitForReply(kIdAck, kIdPortSettings, kAckMs)) return false;
    // The receiver switches its port once the acknowledgement is out; what it sent meanwhile is
    // of no use.
    KClock::Current().Sleep(kSwitchPauseMs);
    monitor->FlushMessages();
    return true;
}

bool KNavComReceiver::DecodeNavComTime(const StreamMessage* message, KGPSTime& time) {
    if (message == nullptr || message->data == nullptr) return false;
    const uint8_t id = IdOf(*message);
    // 0x81 carries one byte ahead of its week.
    size_t weekOffset;
    switch (id) {
    case kIdTimeTagged:
    case 0x86: weekOffset = kPayloadOffset; break;
    case 0x81: weekOffset = kPayloadOffset + 1; break;
    default: return false;
    }
    if (!Holds(*message, weekOffset, 2 + 4)) return false;
    const uint8_t* fields = message->data.get() + weekOffset;
    const auto timeOfWeek = static_cast<uint32_t>(KByteFields::LittleEndian(fields + 2, 4));
    // 0xB0 counts milliseconds of the week, the others whole seconds.
    const double seconds = id == kIdTimeTagged ? timeOfWeek / 1000.0 : static_cast<double>(timeOfWeek);
    time = KGPSTime(static_cast<uint32_t>(KByteFields::LittleEndian(fields, 2)), seconds);
    return true;
}

bool KNavComReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                   bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    // Only 0xB0 messages tag this scan's times; one too short for its time is not one.
    auto isTimeTagged = [](const StreamMessage& message) { return IdOf(message) == kIdTimeTagged; };
    return ScanRecording(
        kScanMessageLimit,
        [&](const StreamMessage& message) {
            if (!isTimeTagged(message) || !DecodeNavComTime(&message, first)) return false;
            gotFirst = true;
            weekUnknown = false;
            return true;
        },
        gotFirst,
        [&](const StreamMessage& message) {
            if (isTimeTagged(message) && DecodeNavComTime(&message, last)) gotLast = true;
        });
}

namespace {

// NavCom messages by command id ("0xb1"). Times from the blocks that begin with a GPS week and a
// time of week: 0xB0 and 0xB1 (milliseconds) and 0x86 (seconds).
class KNavComMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length <= static_cast<int32_t>(kIdOffset)) return facts;
        const uint8_t id = IdOf(message);
        facts.name = HexId(id, 2);
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (id == kIdPvt && Holds(message, kPayloadOffset, 2 + 4)) {
            const uint8_t* fields = message.data.get() + kPayloadOffset;
            SetWeekTime(facts, static_cast<uint32_t>(KByteFields::LittleEndian(fields, 2)),
                        KByteFields::LittleEndian(fields + 2, 4) / 1000.0);
        } else if ((id == KNavComReceiver::kIdTimeTagged || id == kIdChannelStatus) &&
                   KNavComReceiver::DecodeNavComTime(&message, time)) {
            SetWeekTime(facts, time.GetGPSWeek(), time.GetSecondsOfWeek());
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"0xb0", "0xb1", "0x86"}; }

private:
    static constexpr uint8_t kIdPvt = 0xB1, kIdChannelStatus = 0x86;
};

} // namespace

std::unique_ptr<KMessageReader> KNavComReceiver::CreateMessageReader() {
    return std::make_unique<KNavComMessageReader>();
}
