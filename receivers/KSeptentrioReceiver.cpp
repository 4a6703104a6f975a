#include "receivers/KSeptentrioReceiver.h"

#include <array>
#include <cstring>
#include <string_view>

#include "comm/KComm.h"
#include "log/DebugTrace.h"
#include "monitors/KSeptentrioStreamMonitor.h"
#include "receivers/KByteFields.h"
#include "time/KClock.h"

namespace {

constexpr int32_t kTypeId = 17;
constexpr std::array<int32_t, 11> kRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr int32_t kPortPingMs = 2000;
constexpr int32_t kClearMs = 1000;
constexpr int32_t kChangeReplyMs = 2000;  // the answer takes most of a second at 1200
// Two exchanges (the line end, then the copy), each most of a second at 1200, and a flash write.
constexpr int32_t kSaveReplyMs = 5000;
constexpr int32_t kScanMessageLimit = 200;
constexpr const char* kPing = "grc";
constexpr const char* kSaveToBoot = "exeCopyConfigFile, Current, Boot";

constexpr int32_t kTowOffset = 8;
constexpr int32_t kWeekOffset = 12;
constexpr uint32_t kTowUnknown = 0xFFFFFFFF;
constexpr uint32_t kWeekUnknown = 0xFFFF;

std::string_view Text(const StreamMessage& message) {
    return {reinterpret_cast<const char*>(message.data.get()), static_cast<size_t>(message.length)};
}

// "$R", its kind and a space, then the command as it was sent, then its line end (or, in an
// error, the colon before the reason).
bool Echoes(std::string_view reply, char kind, const std::string& command) {
    const std::string head = std::string("$R") + kind + " " + command;
    return reply.starts_with(head) && reply.size() > head.size() && (reply[head.size()] == '\r' || reply[head.size()] == ':');
}

// Agreement: the reference guides give "$R:" for set, get and exe commands and "$R;" for
// listings; either is taken, whichever a firmware uses for the command.
bool Agrees(std::string_view reply, const std::string& command) {
    return Echoes(reply, ':', command) || Echoes(reply, ';', command);
}

// The time an SBF block's header carries, when it carries one.
bool BlockTime(const StreamMessage& message, KGPSTime& time) {
    if (message.length < kWeekOffset + 2 || message.data[0] != '$' || message.data[1] != '@') return false;
    const uint8_t* data = message.data.get();
    const auto towMs = static_cast<uint32_t>(KByteFields::LittleEndian(data + kTowOffset, 4));
    const auto week = static_cast<uint32_t>(KByteFields::LittleEndian(data + kWeekOffset, 2));
    if (towMs == kTowUnknown || week == kWeekUnknown || !KGPSTime::IsWeekTime(week, towMs / 1000.0)) return false;
    time = KGPSTime(week, towMs / 1000.0);
    return true;
}

} // namespace

KSeptentrioReceiver::KSeptentrioReceiver(bool readerThread) : KReceiver(readerThread) {
    monitor = std::make_unique<KSeptentrioStreamMonitor>();
}

KSeptentrioReceiver::~KSeptentrioReceiver() = default;

std::unique_ptr<KReceiver> KSeptentrioReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId != kTypeId) return nullptr;
    return std::make_unique<KSeptentrioReceiver>(runReaderThread);
}

std::span<const int32_t> KSeptentrioReceiver::Rates() { return kRates; }

bool KSeptentrioReceiver::StopAllBroadcast(int32_t) {
    monitor->FlushMessages();
    return true;
}

bool KSeptentrioReceiver::ClearLine(int32_t budgetMs) {
    monitor->FlushMessages();
    if (!SendText("\r\n")) return false;
    // Whatever the line held is answered, an empty line too: its prompt is the sign.
    const auto answer = WaitForReply(
        [](const StreamMessage& message) { return KSeptentrioStreamMonitor::PromptPort(message) != 0; }, budgetMs);
    if (!answer) return false;
    port = KSeptentrioStreamMonitor::PromptPort(*answer);
    return true;
}

bool KSeptentrioReceiver::Command(const std::string& command, int32_t budgetMs) {
    KClock& clock = KClock::Current();
    const int64_t begun = clock.NowMs();
    if (!ClearLine(budgetMs)) return false;
    if (!SendText("%s\r\n", command.c_str())) return false;
    const int64_t left = budgetMs - (clock.NowMs() - begun);
    const auto reply = WaitForVerdict(
        [&command](const StreamMessage& message) {
            const std::string_view text = Text(message);
            if (Agrees(text, command)) return Verdict::Take;
            return Echoes(text, '?', command) ? Verdict::Fail : Verdict::Discard;
        },
        static_cast<int32_t>(left > 0 ? left : 0));
    if (!reply) return false;
    // A listing's first part ends in a pseudo-prompt, which names no port.
    if (const int32_t named = KSeptentrioStreamMonitor::PromptPort(*reply)) port = named;
    return true;
}

bool KSeptentrioReceiver::Ping(int32_t timeoutMs) {
    if (Command(kPing, timeoutMs)) return true;
    DebugTrace("Septentrio receiver: capabilities not answered\n");
    return false;
}

bool KSeptentrioReceiver::ChangeBaud(int32_t baud) {
    bool known = false;
    for (int32_t rate : kRates) known = known || rate == baud;
    if (!known) {
        DebugTrace("Septentrio receiver: no such rate %d\n", baud);
        return false;
    }
    if (port == 0 && !Ping(kPortPingMs)) {
        DebugTrace("Septentrio receiver: the port is not known\n");
        return false;
    }
    if (!ClearLine(kClearMs)) return false;
    const std::string command = "scs, COM" + std::to_string(port) + ", baud" + std::to_string(baud);
    if (!SendText("%s\r\n", command.c_str())) return false;
    // The answer comes at the old rate before the switch, so once it is here the port runs at
    // the new one; when it is not (a receiver that answers at the new rate), the ping there tells.
    bool refused = false;
    WaitForVerdict(
        [&](const StreamMessage& message) {
            const std::string_view text = Text(message);
            refused = Echoes(text, '?', command);
            if (refused) return Verdict::Fail;
            return Agrees(text, command) ? Verdict::Take : Verdict::Discard;
        },
        kChangeReplyMs);
    return !refused;
}

bool KSeptentrioReceiver::SaveConfigurationToBoot(int32_t replyMs) { return Command(kSaveToBoot, replyMs); }

SaveOutcome KSeptentrioReceiver::SaveSettings(int32_t) {
    return SaveConfigurationToBoot(kSaveReplyMs) ? SaveOutcome::Saved : SaveOutcome::Failed;
}

bool KSeptentrioReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                       bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    auto firstTime = [&](const StreamMessage& message) {
        if (BlockTime(message, first)) {
            gotFirst = true;
            weekUnknown = false;
        }
        return gotFirst;
    };
    auto lastTime = [&](const StreamMessage& message) {
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (BlockTime(message, time)) {
            last = time;
            gotLast = true;
        }
    };
    return ScanRecording(kScanMessageLimit, firstTime, gotFirst, lastTime);
}

namespace {

// SBF blocks by name where known, else by number ("block4090"); command replies as "reply".
// Every block's header carries the GPS time of week and week, "do not use" values when the
// receiver has no time.
class KSbfMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        if (message.data == nullptr || message.length < 2) return facts;
        if (message.data[0] != '$' || message.data[1] != '@' || message.length < kWeekOffset + 2) {
            facts.name = "reply";
            return facts;
        }
        // The block number is the low 13 bits of the id; the top three are its revision.
        facts.name = NameOf(static_cast<uint16_t>(KByteFields::LittleEndian(message.data.get() + 4, 2) & 0x1FFF));
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (BlockTime(message, time)) SetWeekTime(facts, time.GetGPSWeek(), time.GetSecondsOfWeek());
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"every block's header"}; }

private:
    static std::string NameOf(uint16_t number) {
        static constexpr struct {
            uint16_t number;
            const char* name;
        } kNames[] = {{4001, "DOP"},           {4006, "PVTCartesian"},  {4007, "PVTGeodetic"},
                      {4012, "SatVisibility"}, {4013, "ChannelStatus"}, {4014, "ReceiverStatus"},
                      {4027, "MeasEpoch"},     {5891, "GPSNav"},        {5902, "ReceiverSetup"},
                      {5914, "ReceiverTime"}};
        for (const auto& entry : kNames)
            if (entry.number == number) return entry.name;
        return "block" + std::to_string(number);
    }
};

} // namespace

std::unique_ptr<KMessageReader> KSeptentrioReceiver::CreateMessageReader() {
    return std::make_unique<KSbfMessageReader>();
}
