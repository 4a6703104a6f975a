#include "sim/KLeicaDevice.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "time/KClock.h"

namespace {
constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kGpsEpoch = 315964800;  // 1980-01-06 00:00:00 UTC
constexpr int64_t kSecondsPerWeek = 604800;
constexpr std::array<uint32_t, 11> kRates = {150,  300,   600,   1200,  2400,  4800,
                                             9600, 19200, 38400, 57600, 115200};

bool Is(const std::vector<uint8_t>& payload, std::initializer_list<uint8_t> expected) {
    return payload.size() == expected.size() && std::equal(expected.begin(), expected.end(), payload.begin());
}

void PutLE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

void PutDouble(std::vector<uint8_t>& out, double value) {
    uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    PutLE(out, bits, 8);
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t days, int32_t& year, int32_t& month, int32_t& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int32_t>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }
} // namespace

KLeicaDevice::KLeicaDevice(Model deviceModel, uint32_t initialBaud, const KSimDeviceOptions& deviceOptions)
    : model(deviceModel), baud(initialBaud == 0 ? 9600 : initialBaud), options(deviceOptions),
      streaming(deviceOptions.streaming) {}

std::string KLeicaDevice::Name() const {
    switch (model) {
    case Model::CRS1000: return "Leica CRS1000";
    case Model::GMX900: return "Leica GMX900";
    case Model::GPS1200: return "Leica GPS1200";
    case Model::System500: return "Leica System 500";
    }
    return "Leica";
}

uint8_t KLeicaDevice::ModelCode() const {
    switch (model) {
    case Model::CRS1000: return 0x10;
    case Model::GMX900: return 0x11;
    case Model::GPS1200: return 0x20;
    case Model::System500: return 0x21;
    }
    return 0;
}

uint32_t KLeicaDevice::BaudOfCode(int32_t code, bool rs500) {
    if (code < (rs500 ? 0 : 3) || code > 10) return 0;
    return kRates[static_cast<size_t>(code)];
}

int32_t KLeicaDevice::CodeOfBaud(uint32_t rate, bool rs500) {
    for (int32_t code = rs500 ? 0 : 3; code <= 10; ++code)
        if (kRates[static_cast<size_t>(code)] == rate) return code;
    return -1;
}

bool KLeicaDevice::SupportsBaud(Model m, uint32_t rate) {
    return CodeOfBaud(rate, m == Model::GPS1200 || m == Model::System500) >= 0;
}

void KLeicaDevice::Attach(KSimDeviceLink* deviceLink, int64_t nowNs) {
    link = deviceLink;
    link->SetReceiveBaud(baud);
    const int64_t period = std::max<int32_t>(options.outputPeriodMs, 1) * kNsPerMs;
    nextOutputNs = streaming ? nowNs + period : KSimDevice::kNever;
}

void KLeicaDevice::OnByte(int64_t timeNs, uint8_t byte) {
    parser.Feed(byte);
    std::vector<uint8_t> payload;
    while (parser.Next(payload)) Handle(timeNs, payload);
}

int64_t KLeicaDevice::NextWakeNs() const {
    const int64_t next = events.empty() ? KSimDevice::kNever : events.begin()->first;
    return std::min(next, streaming ? nextOutputNs : KSimDevice::kNever);
}

void KLeicaDevice::Reply(int64_t timeNs, std::vector<uint8_t> payload, Action action) {
    events.emplace(timeNs + static_cast<int64_t>(std::max(options.replyDelayMs, 0)) * kNsPerMs,
                   Event{action, std::move(payload), 0});
}

void KLeicaDevice::Handle(int64_t timeNs, const std::vector<uint8_t>& p) {
    requests.push_back(p);
    if (options.silent) return;
    const bool rs500 = UsesRS500Commands();
    const int64_t due = timeNs + static_cast<int64_t>(std::max(options.replyDelayMs, 0)) * kNsPerMs;

    if (Is(p, {0xFA, 0x94, 0x00, 0x00}) || Is(p, {0x82, 0x00, 0x00, 0xFC, 0x00, 0x00, 0x00, 0x00})) {
        streaming = false;
        return;
    }
    if (p.size() == 8 && p[0] == 0x82 && p[1] == 0 && p[2] == 0 && p[3] == 0xC8 && p[5] == 0 &&
        p[6] == 0 && p[7] == 0) {
        if (p[4] == 0x85) {
            Reply(timeNs, {0x85, 0x00, 0x00, 0x00, ModelCode(), 0x01, 0x00, 0x00});
        } else if (p[4] == 0x01 && !rs500) {
            // Time answers are built when they go out, so that they tell the time of sending.
            Reply(timeNs, {}, Action::SendTimeOfWeek);
        }
        return;
    }
    if (rs500 && Is(p, {0xFB, 0xFA, 0x07, 0x00, 0xC8, 0x01, 0x00, 0x00})) {
        Reply(timeNs, {}, Action::SendCalendar);
        return;
    }
    if (rs500 && p.size() == 8 && p[0] == 0xFA && p[1] == 0x82 && p[2] == 0x00 && p[4] == 0x00 &&
        p[5] == 0x08 && p[6] == 0x01 && p[7] == 0x00) {
        const uint32_t rate = BaudOfCode(p[3], true);
        Reply(timeNs, {0xFC, 0xFA, static_cast<uint8_t>(rate ? 0x82 : 0x81), p[3], 0x00});
        if (rate) {
            // The switch follows the acknowledgement: queued right behind its Send, it runs
            // once that has left the wire (see Wake).
            events.emplace(due, Event{Action::Switch, {}, rate});
        }
        return;
    }
    if (!rs500 && p.size() == 6 && p[0] == 0x80 && p[1] == 0x00 && p[3] == 0x00 && p[4] == 0xFF &&
        p[5] == 0xFF) {
        const uint32_t rate = BaudOfCode(p[2], false);
        if (rate) events.emplace(due, Event{Action::SwitchWhenFree, {}, rate});
        return;
    }
    if (model == Model::GMX900 && Is(p, {0xDB, 0x00})) {
        Reply(timeNs, {0xFF, 0xDB});
        return;
    }
    // Anything else is not for this model: ignored, as receivers do.
}

void KLeicaDevice::SwitchTo(int64_t timeNs, uint32_t newBaud) {
    if (options.neverSwitches || newBaud == baud) return;
    const uint32_t oldBaud = baud;
    baud = newBaud;
    link->SetReceiveBaud(baud);
    ++rateSwitches;
    if (options.revertAfterMs > 0)
        events.emplace(timeNs + static_cast<int64_t>(options.revertAfterMs) * kNsPerMs,
                       Event{Action::Revert, {}, oldBaud});
}

void KLeicaDevice::Wake(int64_t timeNs) {
    while (!events.empty() && events.begin()->first <= timeNs) {
        auto node = events.extract(events.begin());
        Event& event = node.mapped();
        switch (event.action) {
        case Action::Send:
        case Action::SendTimeOfWeek:
        case Action::SendCalendar: {
            const std::vector<uint8_t> payload = event.action == Action::SendTimeOfWeek ? TimeOfWeekReply(timeNs)
                                                 : event.action == Action::SendCalendar ? CalendarReply(timeNs)
                                                                                        : event.payload;
            link->Transmit(timeNs, baud, KSimLB2Parser::Frame(payload));
            ++framesSent;
            break;
        }
        case Action::Switch:
        case Action::SwitchWhenFree: {
            const int64_t free = link->TransmitFreeNs();
            if (free > timeNs) {
                // Bytes still on the wire go out at the old rate; switch when they have left.
                events.emplace(free, Event{event.action, {}, event.baud});
                break;
            }
            SwitchTo(timeNs, event.baud);
            break;
        }
        case Action::Revert:
            if (event.baud != baud) {
                baud = event.baud;
                link->SetReceiveBaud(baud);
                ++rateSwitches;
            }
            break;
        }
    }
    if (streaming && nextOutputNs <= timeNs) {
        SendPosition(timeNs);
        const int64_t period = std::max<int32_t>(options.outputPeriodMs, 1) * kNsPerMs;
        while (nextOutputNs <= timeNs) nextOutputNs += period;
    }
}

void KLeicaDevice::SendPosition(int64_t timeNs) {
    // Output that cannot keep up with its rate is skipped rather than queued without bound.
    if (link->TransmitFreeNs() > timeNs) return;
    const int64_t wall = KClock::Current().WallSeconds();
    const int64_t gps = wall - kGpsEpoch + options.gpsLeapSeconds;
    const int64_t week = FloorDiv(gps, kSecondsPerWeek);
    const int64_t towMs = (gps - week * kSecondsPerWeek) * 1000 + (timeNs / kNsPerMs) % 1000;
    const double wander = static_cast<double>(outputCount % 60) * 1e-7;
    std::vector<uint8_t> payload{0x50, 0x00};
    PutLE(payload, static_cast<uint64_t>(week < 0 ? 0 : week), 2);
    PutLE(payload, static_cast<uint64_t>(towMs), 4);
    PutDouble(payload, 47.4125 + wander);  // latitude, degrees
    PutDouble(payload, 9.6307 - wander);   // longitude, degrees
    PutDouble(payload, 402.35 + wander * 1e4);  // ellipsoidal height, metres
    payload.push_back(9);                  // satellites used
    payload.push_back(4);                  // fix: carrier-phase fixed
    link->Transmit(timeNs, baud, KSimLB2Parser::Frame(payload));
    ++framesSent;
    ++outputCount;
}

std::vector<uint8_t> KLeicaDevice::TimeOfWeekReply(int64_t timeNs) const {
    const int64_t gps = KClock::Current().WallSeconds() - kGpsEpoch + options.gpsLeapSeconds;
    const int64_t week = FloorDiv(gps, kSecondsPerWeek);
    const int64_t tenths = (gps - week * kSecondsPerWeek) * 10 + (timeNs / (100 * kNsPerMs)) % 10;
    std::vector<uint8_t> payload{0x01};
    PutLE(payload, static_cast<uint64_t>(tenths), 3);
    PutLE(payload, static_cast<uint64_t>(week < 0 ? 0 : week), 2);
    return payload;
}

std::vector<uint8_t> KLeicaDevice::CalendarReply(int64_t timeNs) const {
    const int64_t wall = KClock::Current().WallSeconds();
    const int64_t days = FloorDiv(wall, 86400);
    const int64_t secondOfDay = wall - days * 86400;
    int32_t year = 0, month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    return {0xFA,
            0x07,
            static_cast<uint8_t>(secondOfDay / 3600),
            static_cast<uint8_t>(secondOfDay / 60 % 60),
            static_cast<uint8_t>(secondOfDay % 60),
            static_cast<uint8_t>((timeNs / (10 * kNsPerMs)) % 100),
            static_cast<uint8_t>(day),
            static_cast<uint8_t>(month),
            static_cast<uint8_t>(year % 100)};
}
