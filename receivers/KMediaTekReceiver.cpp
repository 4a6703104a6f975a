#include "receivers/KMediaTekReceiver.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "comm/KComm.h"
#include "log/DebugTrace.h"
#include "monitors/KMediaTekStreamMonitor.h"
#include "receivers/KByteFields.h"

namespace {

constexpr int32_t kTypeId = 16;
constexpr std::array<int32_t, 10> kRates = {4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr int32_t kScanMessageLimit = 200;

constexpr std::string_view kFirmwareQuery = "PMTK605";
constexpr std::string_view kFirmwareReply = "$PMTK705,";
constexpr std::string_view kSilence = "PMTK314,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";

std::string_view Text(const StreamMessage& message) {
    return {reinterpret_cast<const char*>(message.data.get()), static_cast<size_t>(message.length)};
}

// The flag of a PMTK001 acknowledgement of command `command` ('0' invalid, '1' unsupported,
// '2' failed, '3' done), or 0 when the sentence is none.
char AcknowledgementOf(std::string_view sentence, std::string_view command) {
    const std::string prefix = "$PMTK001," + std::string(command) + ",";
    if (!sentence.starts_with(prefix) || sentence.size() <= prefix.size()) return 0;
    return sentence[prefix.size()];
}

// The comma-separated fields of a sentence, from its address to the last before "*".
std::vector<std::string_view> Fields(std::string_view sentence) {
    std::vector<std::string_view> fields;
    const size_t star = sentence.rfind('*');
    std::string_view body = sentence.substr(1, star == std::string_view::npos ? std::string_view::npos : star - 1);
    for (;;) {
        const size_t comma = body.find(',');
        fields.push_back(body.substr(0, comma));
        if (comma == std::string_view::npos) return fields;
        body.remove_prefix(comma + 1);
    }
}

// Digits only, exactly `width` of them.
bool Number(std::string_view field, size_t from, size_t width, int32_t& value) {
    if (field.size() < from + width) return false;
    value = 0;
    for (size_t i = from; i < from + width; ++i) {
        if (field[i] < '0' || field[i] > '9') return false;
        value = value * 10 + (field[i] - '0');
    }
    return true;
}

// "hhmmss" or "hhmmss.sss": hours, minutes and seconds with their fraction.
bool TimeOfDay(std::string_view field, int32_t& hour, int32_t& minute, double& second) {
    int32_t whole = 0;
    if (field.size() < 6 || !Number(field, 0, 2, hour) || !Number(field, 2, 2, minute) || !Number(field, 4, 2, whole))
        return false;
    if (hour > 23 || minute > 59 || whole > 60) return false;
    second = whole;
    if (field.size() == 6) return true;
    if (field[6] != '.') return false;
    double scale = 0.1;
    for (size_t i = 7; i < field.size(); ++i, scale /= 10) {
        if (field[i] < '0' || field[i] > '9') return false;
        second += (field[i] - '0') * scale;
    }
    return true;
}

// The time of an RMC sentence with valid data or of a ZDA sentence.
bool SentenceTime(const StreamMessage& message, KGPSTime& time) {
    const std::string_view text = Text(message);
    if (text.size() < 7 || text[0] != '$') return false;
    const std::vector<std::string_view> f = Fields(text);
    const std::string_view kind = f[0].size() >= 3 ? f[0].substr(f[0].size() - 3) : std::string_view();
    int32_t hour = 0, minute = 0, day = 0, month = 0, year = 0;
    double second = 0;
    if (kind == "RMC" && f.size() >= 10 && f[2] == "A") {
        if (!TimeOfDay(f[1], hour, minute, second) || f[9].size() != 6 || !Number(f[9], 0, 2, day) ||
            !Number(f[9], 2, 2, month) || !Number(f[9], 4, 2, year))
            return false;
        // Two-digit years: NMEA devices were first made in the 1980s.
        year += year < 80 ? 2000 : 1900;
        return GpsTimeOfUtc(year, month, day, hour, minute, second, time);
    }
    if (kind == "ZDA" && f.size() >= 5) {
        if (!TimeOfDay(f[1], hour, minute, second) || f[2].size() != 2 || f[3].size() != 2 || f[4].size() != 4 ||
            !Number(f[2], 0, 2, day) || !Number(f[3], 0, 2, month) || !Number(f[4], 0, 4, year))
            return false;
        return GpsTimeOfUtc(year, month, day, hour, minute, second, time);
    }
    return false;
}

} // namespace

KMediaTekReceiver::KMediaTekReceiver(bool readerThread) : KReceiver(readerThread) {
    monitor = std::make_unique<KMediaTekStreamMonitor>();
}

KMediaTekReceiver::~KMediaTekReceiver() = default;

std::unique_ptr<KReceiver> KMediaTekReceiver::Create(int32_t typeId, bool runReaderThread) {
    if (typeId != kTypeId) return nullptr;
    return std::make_unique<KMediaTekReceiver>(runReaderThread);
}

std::span<const int32_t> KMediaTekReceiver::Rates() { return kRates; }

std::string KMediaTekReceiver::Command(const std::string& body) {
    char check[8];
    std::snprintf(check, sizeof check, "*%02X\r\n", KMediaTekStreamMonitor::Checksum(body));
    return "$" + body + check;
}

bool KMediaTekReceiver::StopAllBroadcast(int32_t) {
    monitor->FlushMessages();
    return true;
}

bool KMediaTekReceiver::SilenceOutput(int32_t replyMs) {
    monitor->FlushMessages();
    if (!SendText("%s", Command(std::string(kSilence)).c_str())) return false;
    const auto reply = WaitForVerdict(
        [](const StreamMessage& message) {
            const char flag = AcknowledgementOf(Text(message), "314");
            if (flag == 0) return Verdict::Discard;
            return flag == '3' ? Verdict::Take : Verdict::Fail;
        },
        replyMs);
    return reply != nullptr;
}

bool KMediaTekReceiver::Ping(int32_t timeoutMs) {
    monitor->FlushMessages();
    if (!SendText("%s", Command(std::string(kFirmwareQuery)).c_str())) return false;
    const auto reply = WaitForVerdict(
        [](const StreamMessage& message) {
            const std::string_view text = Text(message);
            if (text.starts_with(kFirmwareReply)) return Verdict::Take;
            // Invalid, unsupported or failed: no answer is coming.
            const char flag = AcknowledgementOf(text, kFirmwareQuery.substr(4));
            return flag >= '0' && flag <= '2' ? Verdict::Fail : Verdict::Discard;
        },
        timeoutMs);
    if (!reply) DebugTrace("MediaTek receiver: no firmware release answered\n");
    return reply != nullptr;
}

bool KMediaTekReceiver::ChangeBaud(int32_t baud) {
    bool known = false;
    for (int32_t rate : kRates) known = known || rate == baud;
    if (!known) {
        DebugTrace("MediaTek receiver: no such rate %d\n", baud);
        return false;
    }
    return SendText("%s", Command("PMTK251," + std::to_string(baud)).c_str());
}

bool KMediaTekReceiver::ScanTimeSpan(bool& gotFirst, KGPSTime& first, bool& gotLast, KGPSTime& last,
                                     bool& weekUnknown) {
    ClearTimeSpan(gotFirst, first, gotLast, last, weekUnknown);
    auto firstTime = [&](const StreamMessage& message) {
        if (SentenceTime(message, first)) {
            gotFirst = true;
            weekUnknown = false;
        }
        return gotFirst;
    };
    auto lastTime = [&](const StreamMessage& message) {
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (SentenceTime(message, time)) {
            last = time;
            gotLast = true;
        }
    };
    return ScanRecording(kScanMessageLimit, firstTime, gotFirst, lastTime);
}

namespace {

// NMEA sentences by their address ("GPRMC", "PMTK001"); times from RMC and ZDA, in UTC.
class KNmeaMessageReader : public KMessageReader {
public:
    KMessageFacts Read(const StreamMessage& message) override {
        KMessageFacts facts;
        const std::string_view text = Text(message);
        if (text.empty() || text[0] != '$') return facts;
        facts.name = std::string(text.substr(1, text.find_first_of(",*\r\n") - 1));
        KGPSTime time(KGPSTime::kGpsEpoch);
        if (SentenceTime(message, time)) SetTime(facts, time, KTimeScale::Utc);
        return facts;
    }

    std::vector<std::string> TimeMessages() const override { return {"RMC", "ZDA"}; }
};

} // namespace

std::unique_ptr<KMessageReader> KMediaTekReceiver::CreateMessageReader() {
    return std::make_unique<KNmeaMessageReader>();
}
