#include "sim/KLeicaDevice.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sim/KSimBytes.h"
#include "sim/KSimTime.h"

namespace {
using KSimBytes::PutDoubleLittleEndian;
using KSimBytes::PutLittleEndian;
constexpr std::array<uint32_t, 11> kRates = {150,  300,   600,   1200,  2400,  4800,
                                             9600, 19200, 38400, 57600, 115200};

bool Is(const std::vector<uint8_t>& payload, std::initializer_list<uint8_t> expected) {
    return payload.size() == expected.size() && std::equal(expected.begin(), expected.end(), payload.begin());
}

bool ModelOfType(int32_t typeId, KLeicaDevice::Model& model) {
    switch (typeId) {
    case 4: model = KLeicaDevice::Model::CRS1000; return true;
    case 5: model = KLeicaDevice::Model::GMX900; return true;
    case 6: model = KLeicaDevice::Model::GPS1200; return true;
    case 7: model = KLeicaDevice::Model::System500; return true;
    default: return false;
    }
}
} // namespace

KLeicaDevice::KLeicaDevice(Model deviceModel, uint32_t initialBaud, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions), model(deviceModel) {}

std::unique_ptr<KSimDevice> KLeicaDevice::Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) {
    Model model;
    if (!ModelOfType(typeId, model)) return nullptr;
    return std::make_unique<KLeicaDevice>(model, baud, options);
}

std::span<const uint32_t> KLeicaDevice::Rates(int32_t typeId) {
    Model model;
    if (!ModelOfType(typeId, model)) return {};
    const bool rs500 = model == Model::GPS1200 || model == Model::System500;
    return std::span<const uint32_t>(kRates).subspan(rs500 ? 0 : 3);
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

void KLeicaDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    parser.Feed(byte);
    for (Bytes payload; parser.Next(payload);) out.push_back(payload);
}

void KLeicaDevice::Handle(int64_t timeNs, const Bytes& p) {
    const bool rs500 = UsesRS500Commands();
    auto reply = [&](const Bytes& payload) { Reply(timeNs, KSimLeicaParser::Frame(payload)); };

    if (Is(p, {0xFA, 0x94, 0x00, 0x00}) || Is(p, {0x82, 0x00, 0x00, 0xFC, 0x00, 0x00, 0x00, 0x00})) {
        StopOutput();
        return;
    }
    if (p.size() == 8 && p[0] == 0x82 && p[1] == 0 && p[2] == 0 && p[3] == 0xC8 && p[5] == 0 &&
        p[6] == 0 && p[7] == 0) {
        if (p[4] == 0x85) {
            reply({0x85, 0x00, 0x00, 0x00, ModelCode(), 0x01, 0x00, 0x00});
        } else if (p[4] == 0x01 && !rs500) {
            // Time answers are built when they go out, so that they tell the time of sending.
            ReplyWith(timeNs, [this](int64_t sendNs) { return KSimLeicaParser::Frame(TimeOfWeekReply(sendNs)); });
        }
        return;
    }
    if (rs500 && Is(p, {0xFB, 0xFA, 0x07, 0x00, 0xC8, 0x01, 0x00, 0x00})) {
        ReplyWith(timeNs, [this](int64_t sendNs) { return KSimLeicaParser::Frame(CalendarReply(sendNs)); });
        return;
    }
    if (rs500 && p.size() == 8 && p[0] == 0xFA && p[1] == 0x82 && p[2] == 0x00 && p[4] == 0x00 &&
        p[5] == 0x08 && p[6] == 0x01 && p[7] == 0x00) {
        const uint32_t rate = Options().refusesRateChange ? 0 : BaudOfCode(p[3], true);
        reply({0xFC, 0xFA, static_cast<uint8_t>(rate ? 0x82 : 0x81), p[3], 0x00});
        if (rate) SwitchLater(timeNs, rate);  // once the acknowledgement has left the wire
        return;
    }
    if (!rs500 && p.size() == 6 && p[0] == 0x80 && p[1] == 0x00 && p[3] == 0x00 && p[4] == 0xFF &&
        p[5] == 0xFF) {
        const uint32_t rate = Options().refusesRateChange ? 0 : BaudOfCode(p[2], false);
        if (rate) SwitchLater(timeNs, rate);
        return;
    }
    if (model == Model::GMX900 && Is(p, {0xDB, 0x00})) {
        reply({0xFF, 0xDB});
        return;
    }
    // Anything else is not for this model: ignored, as receivers do.
}

void KLeicaDevice::SendOutput(int64_t timeNs) {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    const int64_t towMs = gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs);
    const double wander = static_cast<double>(outputCount % 60) * 1e-7;
    std::vector<uint8_t> payload{0x50, 0x00};
    PutLittleEndian(payload, static_cast<uint64_t>(gps.week), 2);
    PutLittleEndian(payload, static_cast<uint64_t>(towMs), 4);
    PutDoubleLittleEndian(payload, 47.4125 + wander);        // latitude, degrees
    PutDoubleLittleEndian(payload, 9.6307 - wander);         // longitude, degrees
    PutDoubleLittleEndian(payload, 402.35 + wander * 1e4);   // ellipsoidal height, metres
    payload.push_back(9);                        // satellites used
    payload.push_back(4);                        // fix: carrier-phase fixed
    Transmit(timeNs, KSimLeicaParser::Frame(payload));
    ++outputCount;
}

KLeicaDevice::Bytes KLeicaDevice::TimeOfWeekReply(int64_t timeNs) const {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    const int64_t tenths = gps.secondOfWeek * 10 + KSimTime::MillisecondOfSecond(timeNs) / 100;
    std::vector<uint8_t> payload{0x01};
    PutLittleEndian(payload, static_cast<uint64_t>(tenths), 3);
    PutLittleEndian(payload, static_cast<uint64_t>(gps.week), 2);
    return payload;
}

KLeicaDevice::Bytes KLeicaDevice::CalendarReply(int64_t timeNs) const {
    const KSimTime::Utc utc = KSimTime::UtcNow();
    return {0xFA,
            0x07,
            static_cast<uint8_t>(utc.hour),
            static_cast<uint8_t>(utc.minute),
            static_cast<uint8_t>(utc.second),
            static_cast<uint8_t>(KSimTime::MillisecondOfSecond(timeNs) / 10),
            static_cast<uint8_t>(utc.day),
            static_cast<uint8_t>(utc.month),
            static_cast<uint8_t>(utc.year % 100)};
}
