#include "receivers/KTopconReceiver.h"

#include <cstdio>
#include <cstring>

#include "comm/KComm.h"
#include "monitors/KTopconStreamMonitor.h"
#include "receivers/KByteFields.h"
#include "time/KClock.h"

namespace {

constexpr const char* kPing = "%GRILPING%\n";
constexpr const char* kPingId = "GRILPING";
constexpr const char* kAllOffId = "ALLOFF";
constexpr int32_t kAllOffReplyMs = 5000;
// "RE", three length characters and the opening "%" come before a reply's identifier.
constexpr int32_t kReplyIdOffset = 6;

constexpr const char* kTimeReply = "RE018%QVXTIME:";
constexpr int32_t kTimeReplyWeekOffset = 14;
constexpr uint32_t kTimeReplyWeekWidth = 4;
constexpr int32_t kTimeReplySecondsOffset = 19;
constexpr uint32_t kTimeReplySecondsWidth = 9;

constexpr int32_t kRmMinimumLength = 17;
constexpr int32_t kRmWeekOffset = 7;
constexpr int32_t kRmTimeOffset = 9;
constexpr int32_t kScanMessageLimit = 200;

bool Begins(const uint8_t* data, int32_t length, const char* prefix) {
    const size_t size = std::strlen(prefix);
    return length >= 0 && static_cast<size_t>(length) >= size &&
           std::memcmp(data, prefix, size) == 0;
}

bool Begins(const StreamMessage& message, const char* prefix) {
    return Begins(message.data.get(), message.length, prefix);
}

// How much of a text field of `width` bytes at `offset` the message really holds: a reply cut
// short is read up to its last byte and no further.
uint32_t HeldWidth(const StreamMessage& message, int32_t offset, uint32_t width) {
    if (message.length <= offset) return 0;
    const auto held = static_cast<uint32_t>(message.length - offset);
    return held < width ? held : width;
}

// The time reply's week and seconds of week; false unless it is one.
bool TimeReply(const StreamMessage& message, int32_t& week, double& seconds) {
    if (message.length <= static_cast<int32_t>(std::strlen(kTimeReply)) ||
        !Begins(message, kTimeReply))
        return false;
    const uint8_t* data = message.data.get();
    week = KByteFields::TextInteger(data + kTimeReplyWeekOffset,
                        HeldWidth(message, kTimeReplyWeekOffset, kTimeReplyWeekWidth));
    const uint32_t secondsWidth =
        HeldWidth(message, kTimeReplySecondsOffset, kTimeReplySecondsWidth);
    seconds = secondsWidth > 0 ? KByteFields::TextDecimal(data + kTimeReplySecondsOffset, secondsWidth) : 0.0;
    return true;
}

} // namespace

KTopconReceiver::KTopconReceiver(bool readerThread) : KReceiver(readerThread) {
    monitor = std::make_unique<KTopconStreamMonitor>();
}

KTopconReceiver::~KTopconReceiver() = default;

std::unique_ptr<KReceiver> KTopconReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId != 11) return nullptr;
    return std::make_unique<KTopconReceiver>(runReaderThread);
}

bool KTopconReceiver::WaitForReply(const char* identifier, int32_t budgetMs) {
    const int32_t size = static_cast<int32_t>(std::strlen(identifier));
    const auto carriesIdentifier = [identifier, size](const StreamMessage& message) {
        return message.length >= size + kReplyIdOffset && Begins(message, "RE") &&
               std::memcmp(message.data.get() + kReplyIdOffset, identifier,
                           static_cast<size_t>(size)) == 0;
    };
    return KReceiver::WaitForReply(carriesIdentifier, budgetMs) != nullptr;
}

bool KTopconReceiver::StopAllBroadcast(int32_t settleMs) {
    if (!SendText("%%ALLOFF%%dm\n")) return false;
    if (!WaitForReply(kAllOffId, kAllOffReplyMs)) return false;
    KClock::Current().Sleep(settleMs);
    monitor->FlushMessages();
    return true;
}

bool KTopconReceiver::Ping(int32_t timeoutMs) {
    // A negative timeout gives no time to wait, not (halved as unsigned) a month of it.
    const int32_t half = timeoutMs > 0 ? timeoutMs / 2 : 0;
    // Nothing is flushed first: the wait drops whatever stale messages it meets.
    SendText("%s", kPing);
    if (WaitForReply(kPingId, half)) return true;
    SendText("%s", kPing);
    return WaitForReply(kPingId, half);
}

bool KTopconReceiver::ChangeBaud(int32_t baud) {
    if (!IsRate(baud)) return false;
    return SendText("set,/par/cur/term/rate,%d\n", baud);
}

void KTopconReceiver::Reset() {
    if (link && link->linkType == kBlankLineLinkType) SendText("\r\n\r\n");
}

bool KTopconReceiver::DecodeRmTime(const uint8_t* message, int32_t length, uint32_t weekBase,
                                   KGPSTime& time) {
    if (length < kRmMinimumLength || !Begins(message, length, "rM")) return false;
    const auto field = static_cast<uint32_t>(KByteFields::LittleEndian(message + kRmWeekOffset, 2));
    if (field & 0xE000) return false;
    const uint32_t weekModulo = field & 0x7FF;
    if (weekModulo > 1024) return false;
    const uint32_t week = weekModulo == 1024 ? weekBase : weekModulo + (weekBase & ~0x3FFu);
    time = KGPSTime(week, KByteFields::LittleEndian(message + kRmTimeOffset, 4) / 1000.0);
    return true;
}

bool KTopconReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                   bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    KGPSTime decoded(KGPSTime::kGpsEpoch);
    // The week, modulo 1024, that the first time stands for: an "rM" week's own when the first
    // time came from one, the reply's when it came from a time reply.
    uint32_t firstModulo = 0;
    const auto onFirstPass = [&](const StreamMessage& message) {
        if (Begins(message, "RE")) {
            int32_t week = 0;
            double seconds = 0.0;
            // A week of 0 is a receiver that does not know the time yet.
            if (!TimeReply(message, week, seconds) || week == 0) return false;
            first = KGPSTime(static_cast<uint32_t>(week), seconds);
            firstModulo = static_cast<uint32_t>(week) % 1024;
            weekUnknown = false;
        } else if (DecodeRmTime(message.data.get(), message.length, 0, decoded)) {
            // An "rM" week is only known modulo 1024: it is not taken.
            first = KGPSTime(0u, decoded.GetSecondsOfWeek());
            firstModulo = decoded.GetGPSWeek();
        } else {
            return false;
        }
        gotFirst = true;
        return true;
    };
    const auto onLastPass = [&](const StreamMessage& message) {
        if (!DecodeRmTime(message.data.get(), message.length, 0, decoded)) return;
        // The "rM" week counts on from the first time's: a recording that crosses a week's end
        // ends in a later week. Modulo 1024, taken as the nearer way round.
        const auto weeksOn = static_cast<int64_t>((decoded.GetGPSWeek() + 1024 - firstModulo + 512) % 1024) - 512;
        const int64_t week = static_cast<int64_t>(first.GetGPSWeek()) + weeksOn;
        if (!KGPSTime::IsWeekTime(week, decoded.GetSecondsOfWeek())) return;
        last = KGPSTime(static_cast<uint32_t>(week), decoded.GetSecondsOfWeek());
        gotLast = true;
    };
    return ScanRecording(kScanMessageLimit, onFirstPass, gotFirst, onLastPass);
}

namespace {

// GREIS messages by their two-character id ("GT", "~~"). Times from "GT" (GPS time of week and
// week modulo 1024), from "~~" (the receiver's time of day) on the date the latest "RD" told,
// from "rM" and from this program's own time replies.
class KGreisMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length < 2) return facts;
        const uint8_t* d = message.data.get();
        facts.name = std::string(reinterpret_cast<const char*>(d), 2);
        for (char& c : facts.name)
            if (c <= 0x20 || c > 0x7E) c = '?';
        const auto holds = [&](int32_t bodyBytes) { return message.length >= kBodyOffset + bodyBytes; };
        using KByteFields::LittleEndian;
        int32_t week = 0;
        double seconds = 0.0;
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (Begins(message, "GT") && holds(6)) {
            SetWeekModulo1024(facts, static_cast<uint32_t>(LittleEndian(d + kBodyOffset + 4, 2)),
                              LittleEndian(d + kBodyOffset, 4) / 1000.0);
        } else if (Begins(message, "RD") && holds(5)) {
            date = {static_cast<int32_t>(LittleEndian(d + kBodyOffset, 2)), d[kBodyOffset + 2], d[kBodyOffset + 3],
                    d[kBodyOffset + 4]};
            lastTimeOfDayMs = -1;
        } else if (Begins(message, "~~") && holds(4) && date.year != 0) {
            ReceiverTime(facts, static_cast<int32_t>(LittleEndian(d + kBodyOffset, 4)));
        } else if (Begins(message, "RE") && TimeReply(message, week, seconds) && week != 0) {
            SetWeekTime(facts, static_cast<uint32_t>(week), seconds);
        } else if (KTopconReceiver::DecodeRmTime(d, message.length, 0, time)) {
            SetWeekModulo1024(facts, time.GetGPSWeek(), time.GetSecondsOfWeek());
        }
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"GT", "~~ after RD", "rM", "RE"}; }

private:
    static constexpr int32_t kBodyOffset = 5;  // after the id and three hex digits of length
    static constexpr int32_t kMsPerDay = 86400000;
    // The base of a receiver date: the time scale its date and time of day count in.
    enum Base : uint8_t { kGps = 0, kUtcUsno = 1, kGlonass = 2, kUtcSu = 3 };

    struct Date {
        int32_t year = 0;
        uint8_t month = 0, day = 0, base = kGps;
    } date;
    int32_t lastTimeOfDayMs = -1;
    int32_t daysOn = 0;  // midnights passed since the date was told

    void ReceiverTime(KMessageFacts& facts, int32_t timeOfDayMs) {
        if (timeOfDayMs < 0 || timeOfDayMs >= kMsPerDay || date.base > kUtcSu) return;
        // The date comes seldom: a time of day well below the last one has passed midnight.
        if (lastTimeOfDayMs >= 0 && timeOfDayMs < lastTimeOfDayMs - kMsPerDay / 2) ++daysOn;
        if (lastTimeOfDayMs < 0) daysOn = 0;
        lastTimeOfDayMs = timeOfDayMs;
        // GLONASS time runs three hours ahead of UTC.
        const int64_t ms = timeOfDayMs - (date.base == kGlonass ? int64_t{3 * 3600000} : 0);
        const int64_t midnight = KGPSTime::UTCFromYMDHMS(date.year, date.month, date.day, 0, 0, 0);
        if (midnight <= KGPSTime::kGpsEpoch) return;
        const int64_t milliseconds = (ms % 1000 + 1000) % 1000;
        const int64_t seconds = midnight + int64_t{daysOn} * 86400 + (ms - milliseconds) / 1000;
        SetCount(facts, seconds, static_cast<int32_t>(milliseconds * 1000000),
                 date.base == kGps ? KTimeScale::Gps : KTimeScale::Utc);
    }
};

} // namespace

std::unique_ptr<KMessageReader> KTopconReceiver::CreateMessageReader() {
    return std::make_unique<KGreisMessageReader>();
}
