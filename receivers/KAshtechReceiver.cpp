#include "receivers/KAshtechReceiver.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "comm/KComm.h"
#include "log/DebugTrace.h"
#include "monitors/KAshtechStreamMonitor.h"
#include "receivers/KByteFields.h"
#include "time/KClock.h"

namespace {
constexpr int32_t kPortReplyMs = 2000;
constexpr int32_t kScanMessageLimit = 200;
constexpr const char* kPortQuery = "$PASHQ,PRT\r\n";
constexpr const char* kPortReply = "$PASHR,PRT";
constexpr int32_t kLetterOffset = 11; // after "$PASHR,PRT,"
constexpr const char* kGbn = "$PASHR,GBN";
constexpr const char* kPbn = "$PASHR,PBN";
constexpr int32_t kTimeOffset = 11;

struct SpeedEntry {
    int32_t baud;
    int32_t code;
};
constexpr SpeedEntry kSpeedCodes[] = {{300, 0},  {600, 1},   {1200, 2},  {2400, 3},  {4800, 4},
                                      {9600, 5}, {19200, 6}, {38400, 7}, {57600, 8}, {115200, 9}};

bool Begins(const StreamMessage& message, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return message.length >= 0 && static_cast<size_t>(message.length) >= length &&
           std::memcmp(message.data.get(), prefix, length) == 0;
}

// Fields read from a message must lie inside it: a time message cut short yields nothing.
bool Holds(const StreamMessage& message, int32_t offset, int32_t size) {
    return message.length >= offset + size;
}

// The PBN time of week carries no week: the caller supplies one.
bool PbnTime(const StreamMessage& message, uint32_t week, KGPSTime& time) {
    if (!Begins(message, kPbn) || !Holds(message, kTimeOffset, 4)) return false;
    time = KGPSTime(week, KByteFields::BigEndian(message.data.get() + kTimeOffset, 4) / 1000.0);
    return true;
}
} // namespace

KAshtechReceiver::KAshtechReceiver(bool readerThread, int32_t mode)
    : KReceiver(readerThread), outputMode(mode) {
    monitor = std::make_unique<KAshtechStreamMonitor>();
}

KAshtechReceiver::~KAshtechReceiver() = default;

std::unique_ptr<KReceiver> KAshtechReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId < 1 || typeId > 3) return nullptr;
    return std::make_unique<KAshtechReceiver>(runReaderThread, kAllOff);
}

int32_t KAshtechReceiver::SpeedCode(int32_t baud) {
    for (const SpeedEntry& entry : kSpeedCodes)
        if (entry.baud == baud) return entry.code;
    return kNoSpeedCode;
}

std::unique_ptr<StreamMessage> KAshtechReceiver::WaitForReply(const char* prefix,
                                                              int32_t budgetMs) {
    return KReceiver::WaitForReply(
        [prefix](const StreamMessage& message) { return Begins(message, prefix); }, budgetMs);
}

bool KAshtechReceiver::GetPort(char& letter) {
    monitor->FlushMessages();
    SendText("%s", kPortQuery);
    std::unique_ptr<StreamMessage> reply = WaitForReply(kPortReply, kPortReplyMs);
    if (!reply) {
        DebugTrace("ASHTECH: Get Current Port failed on Try 1\n");
        // The answer to the first query may still be on its way: nothing is flushed here.
        SendText("%s", kPortQuery);
        reply = WaitForReply(kPortReply, kPortReplyMs);
        if (!reply) {
            DebugTrace("ASHTECH: Get Current Port failed on Try 2\n");
            return false;
        }
    }
    letter = Holds(*reply, kLetterOffset, 1) ? static_cast<char>(reply->data[kLetterOffset]) : '\0';
    return letter >= 'A' && letter <= 'D';
}

bool KAshtechReceiver::StopAllBroadcast(int32_t settleMs) {
    char letter = '\0';
    if (!GetPort(letter)) {
        DebugTrace("ASHTECH: Stop All Broadcast - GetPort FAIL\n");
        return false;
    }
    bool sent = false;
    switch (outputMode) {
    case kRawOff:
        sent = SendText("$PASHS,RAW,ALL,%c,OFF\r\n", letter);
        break;
    case kNmeaOff:
        sent = SendText("$PASHS,NME,ALL,%c,OFF\r\n", letter);
        break;
    case kAllOff:
        sent = SendText("$PASHS,OUT,%c\r\n", letter);
        break;
    default:
        return false;
    }
    // Both commands go out whatever became of the first; neither is acknowledged.
    sent = SendText("$PASHS,NME,XDR,%c,OFF\r\n", letter) && sent;
    if (!sent) {
        DebugTrace("ASHTECH: Stop All Broadcast - a command never went out\n");
        return false;
    }
    KClock::Current().Sleep(settleMs);
    monitor->FlushMessages();
    return true;
}

bool KAshtechReceiver::Ping(int32_t) {
    char letter = '\0';
    if (GetPort(letter)) return true;
    DebugTrace("Ashtech Receiver: Ping failed ...\n");
    return false;
}

bool KAshtechReceiver::ChangeBaud(int32_t baud) {
    char letter = '\0';
    // Only a missing answer stops the change: a letter the receiver should not have is still used.
    GetPort(letter);
    if (letter == '\0') {
        DebugTrace("Ashtech Receiver::Change baud - could not get port...FAIL\n");
        return false;
    }
    const int32_t code = SpeedCode(baud);
    if (code == kNoSpeedCode) {
        DebugTrace("Ashtech receiver:  Couldn't set baud - no command byte found... \n");
        return false;
    }
    return SendText("$PASHS,SPD,%c,%d\r\n", letter, code);
}

bool KAshtechReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                    bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    auto firstTime = [&](const StreamMessage& message) {
        if (Begins(message, kGbn) && Holds(message, kTimeOffset, 6)) {
            const uint8_t* p = message.data.get() + kTimeOffset;
            const auto week = static_cast<uint32_t>(KByteFields::LittleEndian(p, 2));
            const auto towMs = static_cast<int32_t>(KByteFields::LittleEndian(p + 2, 4));
            // A negative time of week is no time; it must not make the week known.
            if (!KGPSTime::IsWeekTime(week, towMs / 1000.0)) return false;
            first = KGPSTime(week, static_cast<double>(towMs / 1000));
            weekUnknown = false;
            gotFirst = true;
        } else if (PbnTime(message, 0, first)) {
            gotFirst = true;
        }
        return gotFirst;
    };
    auto lastTime = [&](const StreamMessage& message) {
        if (PbnTime(message, first.GetGPSWeek(), last)) gotLast = true;
    };
    return ScanRecording(kScanMessageLimit, firstTime, gotFirst, lastTime);
}

namespace {

// Ashtech responses by their type ("POS", "PBN"), other sentences by their address ("GPXDR").
// Times from GBN (GPS week and time of week) and PBN (time of week alone).
class KAshtechMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length < 2 || message.data[0] != '$') return facts;
        const std::string_view text(reinterpret_cast<const char*>(message.data.get()),
                                    static_cast<size_t>(message.length));
        const std::string_view body = text.substr(Begins(message, "$PASHR,") ? 7 : 1);
        facts.name = std::string(body.substr(0, body.find_first_of(",*\r\n")));
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (Begins(message, kGbn) && Holds(message, kTimeOffset, 6)) {
            const uint8_t* p = message.data.get() + kTimeOffset;
            const auto towMs = static_cast<int32_t>(KByteFields::LittleEndian(p + 2, 4));
            if (towMs >= 0) SetWeekTime(facts, static_cast<uint32_t>(KByteFields::LittleEndian(p, 2)), towMs / 1000.0);
        } else if (PbnTime(message, 0, time)) {
            SetOfWeek(facts, time.GetSecondsOfWeek());
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"GBN", "PBN"}; }
};

} // namespace

std::unique_ptr<KMessageReader> KAshtechReceiver::CreateMessageReader() {
    return std::make_unique<KAshtechMessageReader>();
}
