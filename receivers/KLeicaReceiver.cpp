#include "receivers/KLeicaReceiver.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "comm/KComm.h"
#include "log/DebugTrace.h"
#include "monitors/KLeicaStreamMonitor.h"
#include "receivers/KLeicaCRS1000Receiver.h"
#include "receivers/KLeicaRS500Receiver.h"
#include "time/KClock.h"

namespace {
constexpr uint8_t kSync[2] = {0x9C, 0xAE};
constexpr uint8_t kStopFirst[] = {0xFA, 0x94, 0x00, 0x00};
constexpr uint8_t kStopSecond[] = {0x82, 0x00, 0x00, 0xFC, 0x00, 0x00, 0x00, 0x00};
constexpr uint8_t kPingCode = 0x85;
constexpr int32_t kControlReplyMs = 5000;
constexpr size_t kPayloadOffset = 4;
constexpr size_t kChecksumBytes = 2;
} // namespace

KLeicaReceiver::KLeicaReceiver(bool readerThread) : KReceiver(readerThread) {
    monitor = std::make_unique<KLeicaStreamMonitor>();
}

KLeicaReceiver::~KLeicaReceiver() = default;

std::unique_ptr<KReceiver> KLeicaReceiver::Create(int32_t typeId, bool runReaderThread) {
    switch (typeId) {
    case 4: return std::make_unique<KLeicaCRS1000Receiver>(runReaderThread);
    case 5: {
        auto gmx900 = std::make_unique<KLeicaCRS1000Receiver>(runReaderThread);
        gmx900->controlAfterRateChange = true;
        return gmx900;
    }
    case 6:
    case 7: return std::make_unique<KLeicaRS500Receiver>(runReaderThread);
    default: return nullptr;
    }
}

bool KLeicaReceiver::SendFrame(const uint8_t* payload, uint16_t payloadLength) {
    if (!link) return false;
    const uint16_t length = static_cast<uint16_t>(payloadLength + 4);
    const uint8_t lengthBytes[2] = {static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8)};
    uint16_t sum = static_cast<uint16_t>(lengthBytes[0] + lengthBytes[1]);
    for (uint16_t i = 0; i < payloadLength; ++i) sum = static_cast<uint16_t>(sum + payload[i]);
    const uint16_t checksum = static_cast<uint16_t>(0x10000 - sum);
    const uint8_t checksumBytes[2] = {static_cast<uint8_t>(checksum & 0xFF), static_cast<uint8_t>(checksum >> 8)};
    // One write per frame: the trace shows the frame as one command.
    std::vector<uint8_t> frame(kSync, kSync + sizeof kSync);
    frame.insert(frame.end(), lengthBytes, lengthBytes + sizeof lengthBytes);
    frame.insert(frame.end(), payload, payload + payloadLength);
    frame.insert(frame.end(), checksumBytes, checksumBytes + sizeof checksumBytes);
    return Send(frame.data(), static_cast<uint32_t>(frame.size()));
}

bool KLeicaReceiver::SendQuery(uint8_t code) {
    const uint8_t payload[8] = {0x82, 0x00, 0x00, 0xC8, code, 0x00, 0x00, 0x00};
    return SendFrame(payload, sizeof payload);
}

std::unique_ptr<StreamMessage> KLeicaReceiver::WaitForPayload(const uint8_t* prefix,
                                                              size_t prefixLength,
                                                              int32_t budgetMs,
                                                              size_t minimumFrameLength) {
    // A frame too short to hold the bytes looked at cannot be the reply: its "payload" would be
    // its checksum or memory beyond it.
    const size_t needed = std::max(kPayloadOffset + prefixLength + kChecksumBytes, minimumFrameLength);
    return WaitForReply(
        [&](const StreamMessage& message) {
            return static_cast<size_t>(message.length) >= needed &&
                   std::memcmp(message.data.get() + kPayloadOffset, prefix, prefixLength) == 0;
        },
        budgetMs);
}

bool KLeicaReceiver::StopAllBroadcast(int32_t settleMs) {
    monitor->FlushMessages();
    const bool first = SendFrame(kStopFirst, sizeof kStopFirst);
    if (!SendFrame(kStopSecond, sizeof kStopSecond) || !first) return false;
    KClock::Current().Sleep(settleMs);
    monitor->FlushMessages();
    return true;
}

bool KLeicaReceiver::Ping(int32_t timeoutMs) {
    if (SendQuery(kPingCode)) {
        const uint8_t reply[] = {kPingCode};
        if (WaitForPayload(reply, sizeof reply, timeoutMs)) return true;
    }
    DebugTrace("Ping failed ...\n");
    return false;
}

bool KLeicaReceiver::ScanTimeSpan(bool&, KGPSTime&, bool&, KGPSTime&, bool&) { return false; }

void KLeicaReceiver::AfterRateChange() {
    if (controlAfterRateChange) SendControlCommand(4, true);
}

bool KLeicaReceiver::SendControlCommand(int32_t command, bool waitForReply) {
    if (command != 4) return true;
    const uint8_t payload[] = {0xDB, 0x00};
    SendFrame(payload, sizeof payload);
    if (!waitForReply) return true;
    const uint8_t reply[] = {0xFF, 0xDB};
    return WaitForPayload(reply, sizeof reply, kControlReplyMs) != nullptr;
}

namespace {

// LB2 frames by their first payload byte ("0x85"), or two for the 0xFA family ("0xfa07"). Times
// from the answers to the time queries: 0xFA07 (a calendar date and time, on the scale the
// System 500 answers in) and 0x01 (tenths of a second of the GPS week, no week).
class KLeicaMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length < static_cast<int32_t>(kPayloadOffset + kChecksumBytes + 1))
            return facts;
        const uint8_t* f = message.data.get();
        const auto payloadEnd = static_cast<size_t>(message.length) - kChecksumBytes;
        const bool twoBytes = f[kPayloadOffset] == 0xFA && payloadEnd > kPayloadOffset + 1;
        facts.name = twoBytes ? HexId(static_cast<uint32_t>(f[4] << 8 | f[5]), 4) : HexId(f[kPayloadOffset], 2);
        if (twoBytes && f[5] == 0x07 && payloadEnd >= 13) {
            // Two-digit years: these receivers were made long after 1980.
            const int32_t year = f[12] < 80 ? 2000 + f[12] : 1900 + f[12];
            if (f[11] >= 1 && f[11] <= 12 && f[10] >= 1 && f[10] <= 31 && f[6] < 24 && f[7] < 60 && f[8] < 61)
                SetCount(facts, KGPSTime::UTCFromYMDHMS(year, f[11], f[10], f[6], f[7], f[8]),
                         f[9] % 100 * 10000000, KLeicaRS500Receiver::kTimeScale);
        } else if (f[kPayloadOffset] == 0x01 && payloadEnd >= 8) {
            SetOfWeek(facts, (f[5] | f[6] << 8 | f[7] << 16) / 10.0);
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"0xfa07", "0x01"}; }
};

} // namespace

std::unique_ptr<KMessageReader> KLeicaReceiver::CreateMessageReader() {
    return std::make_unique<KLeicaMessageReader>();
}
