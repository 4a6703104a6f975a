#include "receivers/KTrimbleReceiver.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "comm/KComm.h"
#include "log/DebugTrace.h"
#include "receivers/KByteFields.h"
#include "monitors/KTrimbleStreamMonitor.h"
#include "time/KClock.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint32_t kHeaderBytes = 4;  // STX, status, type, length
constexpr uint32_t kMaxData = 255;
constexpr int32_t kPortReplyMs = 3000;
constexpr uint32_t kPortOffset = 10;
// The rest of a port-settings packet: 8 data bits, no parity, 1 stop bit, no flow control.
constexpr uint8_t kLineSettings[] = {0x08, 0x00, 0x01, 0x00, 0x00};
// The first pass of a time scan gives up after this many packets.
constexpr int32_t kScanMessages = 500;
constexpr double kMsPerWeek = 604800000.0;
constexpr uint32_t kRecordTimeOffset = 8;
constexpr uint32_t kSecondTextOffset = 38;
constexpr uint32_t kSecondTextWidth = 7;
constexpr uint32_t kWeekTextOffset = 45;
constexpr uint32_t kWeekTextWidth = 4;

uint8_t TypeOf(const StreamMessage& message) { return message.length > 2 ? message.data[2] : 0; }

// Whether the packet's data block (and the message) reach up to, not including, `end`. A packet
// too short for a field does not have it: what lies there is its checksum, or nothing.
bool Holds(const StreamMessage& message, uint32_t end) {
    if (message.length < static_cast<int32_t>(kHeaderBytes)) return false;
    return end <= kHeaderBytes + message.data[3] && end <= static_cast<uint32_t>(message.length);
}

bool IsSerialPort(uint32_t port) { return (port >= 1 && port <= 4) || port == 18; }

// The time of a raw-data record: record type 0, first page of its record, and the milliseconds
// of the GPS week as a big-endian IEEE double at offset 8.
bool RecordSecond(const StreamMessage& message, double& secondOfWeek) {
    if (TypeOf(message) != KTrimbleReceiver::kRawData || !Holds(message, kRecordTimeOffset + 8)) return false;
    if (message.data[4] != 0 || (message.data[5] >> 4) != 1) return false;
    const double ms = KByteFields::DoubleBigEndian(message.data.get() + kRecordTimeOffset);
    // Not a number, or a negative time, is no time of the week either.
    if (!(ms >= 0.0) || ms > kMsPerWeek) return false;
    secondOfWeek = ms / 1000.0;
    return true;
}

} // namespace

KTrimbleReceiver::KTrimbleReceiver(bool readerThread) : KReceiver(readerThread) {
    auto owned = std::make_unique<KTrimbleStreamMonitor>();
    framer = owned.get();
    monitor = std::move(owned);
}

KTrimbleReceiver::~KTrimbleReceiver() = default;

std::unique_ptr<KReceiver> KTrimbleReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId < 12 || typeId > 14) return nullptr;
    return std::make_unique<KTrimbleReceiver>(runReaderThread);
}

bool KTrimbleReceiver::SendPacket(uint8_t packetType, const uint8_t* data, uint32_t dataLength) {
    if (dataLength > kMaxData || (dataLength > 0 && !data) || !link) return false;
    std::vector<uint8_t> packet;
    packet.reserve(dataLength + 6);
    packet.insert(packet.end(), {kStx, 0x00, packetType, static_cast<uint8_t>(dataLength)});
    packet.insert(packet.end(), data, data + dataLength);
    packet.push_back(KTrimbleStreamMonitor::Checksum(packet.data() + 1, dataLength + 3));
    packet.push_back(kEtx);
    return Send(packet.data(), static_cast<uint32_t>(packet.size()));
}

std::unique_ptr<StreamMessage> KTrimbleReceiver::WaitForReply(uint8_t packetType, int32_t budgetMs) {
    return KReceiver::WaitForReply(
        [packetType](const StreamMessage& message) { return TypeOf(message) == packetType; }, budgetMs);
}

bool KTrimbleReceiver::GetPort(uint32_t& port) {
    if (receiverPort != 0) {
        port = receiverPort;
        return true;
    }
    SendPacket(kGetOptions, nullptr, 0);
    const std::unique_ptr<StreamMessage> reply = WaitForReply(kOptions, kPortReplyMs);
    if (!reply || !Holds(*reply, kPortOffset + 1)) return false;
    const uint32_t number = reply->data[kPortOffset];
    if (!IsSerialPort(number)) return false;
    port = number;
    return true;
}

bool KTrimbleReceiver::StopAllBroadcast(int32_t settleMs) {
    uint32_t port = 0;
    if (!GetPort(port)) {
        DebugTrace("TRIMBLE: Stop All Broadcast - GetPort FAIL\n");
        return false;
    }
    receiverPort = port;
    KClock::Current().Sleep(settleMs);
    monitor->FlushMessages();
    return true;
}

bool KTrimbleReceiver::Ping(int32_t timeoutMs) {
    // A failed write is left to the wait: it finds nothing.
    SendPacket(kGetOptions, nullptr, 0);
    return WaitForReply(kOptions, timeoutMs) != nullptr;
}

bool KTrimbleReceiver::ChangeBaud(int32_t baud) {
    // The rate goes out as it is, whatever the receiver makes of it; but a rate that is not a
    // positive number has no meaning on any port.
    if (!IsRate(baud)) return false;
    uint32_t port = 0;
    if (!GetPort(port)) return false;
    receiverPort = port;
    const uint32_t rate = static_cast<uint32_t>(baud);
    uint8_t data[10] = {static_cast<uint8_t>(port),
                        static_cast<uint8_t>(rate >> 24),
                        static_cast<uint8_t>(rate >> 16),
                        static_cast<uint8_t>(rate >> 8),
                        static_cast<uint8_t>(rate)};
    std::copy(std::begin(kLineSettings), std::end(kLineSettings), data + 5);
    return SendPacket(kSetPort, data, sizeof data);
}

bool KTrimbleReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                    bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    framer->ResetScanCount();
    // A raw-data record gives the first second but the pass goes on for a week; the week text
    // record ends the pass.
    const auto onFirstPass = [&](const StreamMessage& message) {
        double second = 0.0;
        if (TypeOf(message) == kRawData && !gotFirst) {
            if (RecordSecond(message, second)) {
                first = KGPSTime(0u, second);
                gotFirst = true;
            }
            return false;
        }
        if (TypeOf(message) != kWeekText || !Holds(message, kWeekTextOffset + kWeekTextWidth)) return false;
        int32_t textSecond = 0, week = 0;
        // A week or second that is not a count is no time: the week stays unknown.
        if (!KByteFields::TextCount(message.data.get() + kSecondTextOffset, kSecondTextWidth, textSecond) ||
            !KByteFields::TextCount(message.data.get() + kWeekTextOffset, kWeekTextWidth, week) ||
            !KGPSTime::IsWeekTime(week, textSecond))
            return false;
        first = KGPSTime(static_cast<uint32_t>(week),
                         gotFirst ? first.GetSecondsOfWeek() : static_cast<double>(textSecond));
        gotFirst = true;
        weekUnknown = false;
        return true;
    };
    const auto onLastPass = [&](const StreamMessage& message) {
        double second = 0.0;
        if (!RecordSecond(message, second)) return;
        last = KGPSTime(first.GetGPSWeek(), second);
        gotLast = true;
    };
    // The common scan leaves its first pass once the count exceeds the limit it is given.
    return ScanRecording(kScanMessages - 1, onFirstPass, gotFirst, onLastPass);
}

namespace {

// Trimble packets by type ("0x57"). Times from raw-data records (0x57: a time of week, placed in
// the week of the latest ephemeris (0x55 type 1) or week text (0x0C)) and from GSOF position
// time records (0x40, record 1: GPS milliseconds of week and week).
class KTrimbleMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length < static_cast<int32_t>(kHeaderBytes)) return facts;
        const uint8_t type = TypeOf(message);
        facts.name = HexId(type, 2);
        const uint8_t* d = message.data.get();
        using KByteFields::BigEndian;
        double second = 0.0;
        int32_t textSecond = 0, week = 0;
        if (RecordSecond(message, second)) {
            SetOfWeek(facts, second);
        } else if (type == kRetSvData && Holds(message, kEphemerisTowOffset + 4) && d[4] == kEphemeris) {
            // The ephemeris' week and the time of week it was sent: near the stream's own time.
            const auto ephemerisWeek = static_cast<uint32_t>(BigEndian(d + kEphemerisWeekOffset, 2));
            const double sent = static_cast<double>(BigEndian(d + kEphemerisTowOffset, 4));
            if (ephemerisWeek != 0 && KGPSTime::IsWeekTime(ephemerisWeek, sent)) Anchor(KGPSTime(ephemerisWeek, sent));
        } else if (type == KTrimbleReceiver::kWeekText && Holds(message, kWeekTextOffset + kWeekTextWidth) &&
                   KByteFields::TextCount(d + kSecondTextOffset, kSecondTextWidth, textSecond) &&
                   KByteFields::TextCount(d + kWeekTextOffset, kWeekTextWidth, week)) {
            SetWeekTime(facts, static_cast<uint32_t>(week), textSecond);
        } else if (type == kGsof) {
            GsofTime(message, facts);
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"0x57", "0x0c", "0x40"}; }

private:
    static constexpr uint8_t kRetSvData = 0x55, kEphemeris = 1, kGsof = 0x40, kGsofPositionTime = 1;
    static constexpr uint32_t kEphemerisWeekOffset = 6, kEphemerisTowOffset = 12;
    // After the transmission number, page index and last page index.
    static constexpr uint32_t kGsofRecordsOffset = 7;

    void GsofTime(const StreamMessage& message, KMessageFacts& facts) {
        const uint8_t* d = message.data.get();
        // Only the first page starts with a record; later pages go on inside one.
        if (!Holds(message, kGsofRecordsOffset) || d[5] != 0) return;
        for (uint32_t at = kGsofRecordsOffset; Holds(message, at + 2);) {
            const uint32_t length = d[at + 1];
            if (d[at] == kGsofPositionTime && length >= 6 && Holds(message, at + 2 + 6)) {
                const auto ms = static_cast<uint32_t>(KByteFields::BigEndian(d + at + 2, 4));
                return SetWeekTime(facts, static_cast<uint32_t>(KByteFields::BigEndian(d + at + 6, 2)), ms / 1000.0);
            }
            at += 2 + length;
        }
    }
};

} // namespace

std::unique_ptr<KMessageReader> KTrimbleReceiver::CreateMessageReader() {
    return std::make_unique<KTrimbleMessageReader>();
}
