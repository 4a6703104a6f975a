#include "sim/KUbloxDevice.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "sim/KSimBytes.h"
#include "sim/KSimTime.h"

using KSimBytes::PutLittleEndian;
using KSimBytes::ReadLittleEndian;

namespace {
constexpr std::array<uint32_t, 9> kRates = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr int32_t kTypeId = 15;

constexpr uint8_t kNav = 0x01, kAck = 0x05, kCfg = 0x06, kMon = 0x0A;
constexpr uint8_t kNavPvt = 0x07, kNavTimeGps = 0x20, kMonVer = 0x04;
constexpr uint8_t kCfgPrt = 0x00, kCfgCfg = 0x09, kCfgValset = 0x8A;
constexpr uint32_t kKeyUart1 = 0x40520001, kKeyUart2 = 0x40530001;
constexpr uint8_t kRamLayer = 0x01;
constexpr uint32_t kMode8N1 = 0x08C0;
constexpr uint16_t kInUbxNmeaRtcm3 = 0x23, kOutUbxNmea = 0x03;

bool RunsAt(uint32_t baud) { return std::find(kRates.begin(), kRates.end(), baud) != kRates.end(); }

// The text of a fixed-width MON-VER field, zero-padded.
void PutText(std::vector<uint8_t>& out, const char* text, size_t width) {
    const size_t length = std::min(std::strlen(text), width);
    out.insert(out.end(), text, text + length);
    out.insert(out.end(), width - length, 0);
}

// The generation and UART a receiver port names; false for names it does not know.
bool ParsePort(const std::string& name, int32_t& generation, int32_t& uart) {
    generation = 9;
    uart = 1;
    if (name.empty()) return true;
    const size_t colon = name.find(':');
    const std::string uartText = colon == std::string::npos ? name : name.substr(colon + 1);
    if (colon != std::string::npos) {
        const std::string g = name.substr(0, colon);
        if (g == "8") generation = 8;
        else if (g == "9") generation = 9;
        else if (g == "10") generation = 10;
        else if (g == "20") generation = 20;
        else return false;
    }
    if (uartText == "1") uart = 1;
    else if (uartText == "2" && generation <= 9) uart = 2;
    else return false;
    return true;
}
} // namespace

KUbloxDevice::KUbloxDevice(uint32_t initialBaud, int32_t deviceGeneration, int32_t deviceUart,
                           const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions), generation(deviceGeneration), uart(deviceUart) {}

std::unique_ptr<KSimDevice> KUbloxDevice::Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) {
    int32_t generation = 0, uart = 0;
    if (typeId != kTypeId || !ParsePort(options.receiverPort, generation, uart)) return nullptr;
    return std::make_unique<KUbloxDevice>(baud, generation, uart, options);
}

std::span<const uint32_t> KUbloxDevice::Rates(int32_t typeId) {
    if (typeId != kTypeId) return {};
    return kRates;
}

void KUbloxDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    parser.Feed(byte);
    for (Bytes frame; parser.Next(frame);) out.push_back(frame);
}

void KUbloxDevice::Handle(int64_t timeNs, const Bytes& frame) {
    const uint8_t messageClass = frame[2], id = frame[3];
    const Bytes payload(frame.begin() + 6, frame.end() - 2);
    if (messageClass == kCfg && Options().wrongAcknowledgements) {
        Reply(timeNs, KSimUbxParser::Frame(kAck, 0x01, {kCfg, static_cast<uint8_t>(id + 1)}));
        return;
    }
    if (messageClass == kMon && id == kMonVer && payload.empty()) {
        Reply(timeNs, Version());
    } else if (messageClass == kNav && id == kNavTimeGps && payload.empty()) {
        ReplyWith(timeNs, [this](int64_t) { return TimeGps(); });
    } else if (messageClass == kCfg && id == kCfgPrt) {
        Port(timeNs, payload);
    } else if (messageClass == kCfg && id == kCfgValset && generation >= 9) {
        Valset(timeNs, payload);
    } else if (messageClass == kCfg && id == kCfgCfg && payload.size() >= 12) {
        if (!Options().refusesSave) savedBaud = Baud();
        Acknowledge(timeNs, id, !Options().refusesSave);
    } else if (messageClass == kCfg) {
        Acknowledge(timeNs, id, false);
    }
}

void KUbloxDevice::Port(int64_t timeNs, const Bytes& payload) {
    if (generation >= 10) {
        Acknowledge(timeNs, kCfgPrt, false);
        return;
    }
    if (payload.empty()) {
        Reply(timeNs, KSimUbxParser::Frame(kCfg, kCfgPrt, PortSettings(uart)));
        return;
    }
    const int32_t which = payload[0];
    if (which != 1 && which != 2) {
        Acknowledge(timeNs, kCfgPrt, false);
        return;
    }
    if (payload.size() == 1) {
        Reply(timeNs, KSimUbxParser::Frame(kCfg, kCfgPrt, PortSettings(which)));
        return;
    }
    if (payload.size() < 20 || ReadLittleEndian(payload.data() + 4, 4) != kMode8N1) {
        Acknowledge(timeNs, kCfgPrt, false);
        return;
    }
    SetRate(timeNs, which, static_cast<uint32_t>(ReadLittleEndian(payload.data() + 8, 4)), kCfgPrt);
}

void KUbloxDevice::Valset(int64_t timeNs, const Bytes& payload) {
    if (payload.size() != 12 || payload[0] != 0) {  // one 4-byte key and value at a time
        Acknowledge(timeNs, kCfgValset, false);
        return;
    }
    const uint8_t layers = payload[1];
    const auto key = static_cast<uint32_t>(ReadLittleEndian(payload.data() + 4, 4));
    const auto rate = static_cast<uint32_t>(ReadLittleEndian(payload.data() + 8, 4));
    const int32_t which = key == kKeyUart1 ? 1 : key == kKeyUart2 && generation <= 9 ? 2 : 0;
    if (which == 0 || !RunsAt(rate) || layers == 0) {
        Acknowledge(timeNs, kCfgValset, false);
        return;
    }
    if (!(layers & kRamLayer)) {
        if (which == uart && !Options().refusesSave) savedBaud = rate;
        Acknowledge(timeNs, kCfgValset, !Options().refusesSave);
        return;
    }
    SetRate(timeNs, which, rate, kCfgValset);
}

bool KUbloxDevice::SetRate(int64_t timeNs, int32_t which, uint32_t rate, uint8_t id) {
    if (!RunsAt(rate) || Options().refusesRateChange) {
        Acknowledge(timeNs, id, false);
        return false;
    }
    Acknowledge(timeNs, id, true);
    if (which == uart) SwitchLater(timeNs, rate);  // once the ACK has left at the old rate
    else otherUartBaud = rate;
    return true;
}

void KUbloxDevice::Acknowledge(int64_t timeNs, uint8_t id, bool ok) {
    Reply(timeNs, KSimUbxParser::Frame(kAck, ok ? 0x01 : 0x00, {kCfg, id}));
}

KUbloxDevice::Bytes KUbloxDevice::PortSettings(int32_t which) const {
    Bytes payload;
    payload.push_back(static_cast<uint8_t>(which));
    payload.push_back(0);
    PutLittleEndian(payload, 0, 2);  // txReady
    PutLittleEndian(payload, kMode8N1, 4);
    PutLittleEndian(payload, which == uart ? Baud() : otherUartBaud, 4);
    PutLittleEndian(payload, kInUbxNmeaRtcm3, 2);
    PutLittleEndian(payload, kOutUbxNmea, 2);
    PutLittleEndian(payload, 0, 4);  // flags, reserved
    return payload;
}

KUbloxDevice::Bytes KUbloxDevice::Version() const {
    struct Model {
        int32_t generation;
        const char *software, *hardware, *protocol;
    };
    static constexpr Model kModels[] = {
        {8, "ROM CORE 3.01 (107888)", "00080000", "PROTVER=18.00"},
        {9, "EXT CORE 1.00 (61b2dd)", "00190000", "PROTVER=27.31"},
        {10, "ROM SPG 5.10 (7b202e)", "000A0000", "PROTVER=34.10"},
        {20, "EXT CORE 2.00 (simulated)", "00200000", "PROTVER=50.00"},
    };
    const Model* model = &kModels[0];
    for (const Model& m : kModels)
        if (m.generation == generation) model = &m;
    Bytes payload;
    PutText(payload, model->software, 30);
    PutText(payload, model->hardware, 10);
    PutText(payload, "FWVER=SIM", 30);
    PutText(payload, model->protocol, 30);
    PutText(payload, "GPS;GLO;GAL;BDS", 30);
    return KSimUbxParser::Frame(kMon, kMonVer, payload);
}

KUbloxDevice::Bytes KUbloxDevice::TimeGps() const {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    Bytes payload;
    PutLittleEndian(payload, static_cast<uint64_t>(gps.secondOfWeek * 1000), 4);
    PutLittleEndian(payload, 0, 4);  // fTOW
    PutLittleEndian(payload, static_cast<uint64_t>(gps.week), 2);
    payload.push_back(static_cast<uint8_t>(Options().gpsLeapSeconds));
    payload.push_back(0x07);  // time of week, week and leap seconds valid
    PutLittleEndian(payload, 50, 4);  // accuracy, ns
    return KSimUbxParser::Frame(kNav, kNavTimeGps, payload);
}

// iTOW, the UTC date and time (valid), then fix and position fields left at zero: no host reads them.
KUbloxDevice::Bytes KUbloxDevice::Pvt(int64_t timeNs) const {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    const KSimTime::Utc utc = KSimTime::UtcNow();
    Bytes payload;
    PutLittleEndian(payload, static_cast<uint64_t>(gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs)), 4);
    PutLittleEndian(payload, static_cast<uint64_t>(utc.year), 2);
    for (int32_t field : {utc.month, utc.day, utc.hour, utc.minute, utc.second}) payload.push_back(static_cast<uint8_t>(field));
    payload.push_back(0x07);  // date and time valid, fully resolved
    payload.resize(92, 0);
    return KSimUbxParser::Frame(kNav, kNavPvt, payload);
}

void KUbloxDevice::SendOutput(int64_t timeNs) {
    const KSimTime::Utc utc = KSimTime::UtcNow();
    char body[80];
    std::snprintf(body, sizeof body, "GNGGA,%02d%02d%02d.00,,,,,0,00,99.99,,,,,,", utc.hour, utc.minute, utc.second);
    uint8_t sum = 0;
    for (const char* c = body; *c; ++c) sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(*c));
    char sentence[96];
    std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body, sum);
    Bytes output = Pvt(timeNs);
    output.insert(output.end(), sentence, sentence + std::strlen(sentence));
    Transmit(timeNs, output);
}
