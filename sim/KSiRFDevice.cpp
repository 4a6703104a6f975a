#include "sim/KSiRFDevice.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "comm/KBaudRates.h"
#include "sim/KSimTime.h"

namespace {

constexpr uint8_t kMaxRate = 30;  // the slowest message rate, in periods
constexpr size_t kMessageRatePayload = 8;
constexpr size_t kSerialPortPayload = 9;
constexpr size_t kPollPayload = 2;
constexpr uint8_t kSatellites[12] = {2, 5, 9, 12, 15, 17, 21, 24, 29, 0, 0, 0};
constexpr uint8_t kSatellitesUsed = 9;
constexpr int64_t kNsPerMs = 1000000;

void PutBE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

// Signed values go out as their two's complement.
void PutSigned(std::vector<uint8_t>& out, int64_t value, int bytes) { PutBE(out, static_cast<uint64_t>(value), bytes); }

void PutFloat(std::vector<uint8_t>& out, float value) { PutBE(out, std::bit_cast<uint32_t>(value), 4); }

// The navigation library's doubles: low 32 bits first, then high 32 bits, each big-endian.
void PutSwappedDouble(std::vector<uint8_t>& out, double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    PutBE(out, bits & 0xFFFFFFFFu, 4);
    PutBE(out, bits >> 32, 4);
}

struct GpsNow {
    int64_t week;
    int64_t msOfWeek;
};

GpsNow Now(int32_t leapSeconds, int64_t timeNs) {
    const KSimTime::Gps gps = KSimTime::GpsNow(leapSeconds);
    return {gps.week, gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs)};
}

} // namespace

KSiRFDevice::KSiRFDevice(uint32_t initialBaud, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions) {}

std::unique_ptr<KSimDevice> KSiRFDevice::Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) {
    if (typeId != 10 || !options.receiverPort.empty()) return nullptr;
    return std::make_unique<KSiRFDevice>(baud, options);
}

bool KSiRFDevice::SupportsBaud(uint32_t rate) { return IsBaudRate(rate); }

uint8_t KSiRFDevice::RateOf(uint8_t id) const {
    for (const Output& output : outputs)
        if (output.id == id) return output.rate;
    return 0;
}

void KSiRFDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    parser.Feed(byte);
    for (Bytes packet; parser.Next(packet);) out.push_back(packet);
}

void KSiRFDevice::Handle(int64_t timeNs, const Bytes& packet) {
    const Bytes payload(packet.begin() + 4, packet.end() - 4);
    const uint8_t id = payload[0];
    switch (id) {
    case kIdPollVersion:
    case kIdPollClockStatus:
        if (payload.size() != kPollPayload) break;
        Acknowledge(timeNs, id);
        if (id == kIdPollVersion) {
            Bytes version{kIdVersion};
            version.insert(version.end(), kVersion, kVersion + std::strlen(kVersion));
            Reply(timeNs, KSimSiRFParser::Packet(version));
        } else {
            // Built when sent, so that it tells the time of sending.
            ReplyWith(timeNs, [this](int64_t sendNs) { return ClockStatus(sendNs); });
        }
        return;
    case kIdSetMessageRate: SetMessageRate(timeNs, payload); return;
    case kIdSetSerialPort: SetSerialPort(timeNs, payload); return;
    default: break;
    }
    Refuse(timeNs, id);
}

void KSiRFDevice::SetMessageRate(int64_t timeNs, const Bytes& payload) {
    const uint8_t mode = payload.size() == kMessageRatePayload ? payload[1] : 0xFF;
    const uint8_t id = payload.size() == kMessageRatePayload ? payload[2] : 0;
    const uint8_t rate = payload.size() == kMessageRatePayload ? payload[3] : 0;
    if (mode > 2 || rate > kMaxRate) {
        Refuse(timeNs, kIdSetMessageRate);
        return;
    }
    Acknowledge(timeNs, kIdSetMessageRate);
    if (mode == 1) {
        // A poll of a message it does not send goes unanswered beyond the acknowledgement.
        if (std::any_of(outputs.begin(), outputs.end(), [id](const Output& o) { return o.id == id; }))
            ReplyWith(timeNs, [this, id](int64_t sendNs) { return Message(id, sendNs); });
        return;
    }
    for (Output& output : outputs)
        if (mode == 2 || output.id == id) output.rate = rate;
    if (std::all_of(outputs.begin(), outputs.end(), [](const Output& o) { return o.rate == 0; })) StopOutput();
}

void KSiRFDevice::SetSerialPort(int64_t timeNs, const Bytes& payload) {
    if (payload.size() != kSerialPortPayload || payload[5] != 8 || payload[6] != 1 || payload[7] != 0) {
        Refuse(timeNs, kIdSetSerialPort);
        return;
    }
    const uint32_t rate = static_cast<uint32_t>(payload[1]) << 24 | static_cast<uint32_t>(payload[2]) << 16 |
                          static_cast<uint32_t>(payload[3]) << 8 | payload[4];
    if (!SupportsBaud(rate) || Options().refusesRateChange) {
        Refuse(timeNs, kIdSetSerialPort);
        return;
    }
    SwitchLater(timeNs, rate);
}

void KSiRFDevice::Acknowledge(int64_t timeNs, uint8_t id) {
    const uint8_t named = Options().wrongAcknowledgements ? static_cast<uint8_t>(id ^ 0x01) : id;
    Reply(timeNs, KSimSiRFParser::Packet({kIdAck, named}));
}

void KSiRFDevice::Refuse(int64_t timeNs, uint8_t id) { Reply(timeNs, KSimSiRFParser::Packet({kIdNak, id})); }

KSiRFDevice::Bytes KSiRFDevice::Message(uint8_t id, int64_t timeNs) const {
    switch (id) {
    case kIdClockStatus: return ClockStatus(timeNs);
    case kIdMeasuredNavigation: return MeasuredNavigation(timeNs);
    case kIdNavLibMeasurement: return NavLibMeasurement(timeNs);
    default: return {};
    }
}

KSiRFDevice::Bytes KSiRFDevice::ClockStatus(int64_t timeNs) const {
    const GpsNow now = Now(Options().gpsLeapSeconds, timeNs);
    Bytes payload{kIdClockStatus};
    PutBE(payload, static_cast<uint64_t>(now.week), 2);
    PutBE(payload, static_cast<uint64_t>(now.msOfWeek / 10), 4);  // time of week, 1/100 s
    payload.push_back(kSatellitesUsed);
    PutBE(payload, 94315, 4);                                      // clock drift, Hz
    PutSigned(payload, kClockBiasNs, 4);
    PutBE(payload, static_cast<uint64_t>(now.msOfWeek), 4);        // estimated GPS time, ms
    return KSimSiRFParser::Packet(payload);
}

KSiRFDevice::Bytes KSiRFDevice::MeasuredNavigation(int64_t timeNs) const {
    const GpsNow now = Now(Options().gpsLeapSeconds, timeNs);
    const int64_t wander = static_cast<int64_t>(periods % 20) - 10;
    Bytes payload{kIdMeasuredNavigation};
    for (int64_t axis : {-2503357 + wander, -4660203 - wander, 3551245 + wander}) PutSigned(payload, axis, 4);  // ECEF, m
    for (int axis = 0; axis < 3; ++axis) PutSigned(payload, wander % 3, 2);  // velocity, 1/8 m/s
    payload.push_back(0x04);                                                 // mode 1: more than 3 satellites
    payload.push_back(5);                                                    // HDOP 1.0, in fifths
    payload.push_back(0x00);                                                 // mode 2
    PutBE(payload, static_cast<uint64_t>(now.week % 1024), 2);               // the week as GPS broadcasts it
    PutBE(payload, static_cast<uint64_t>(now.msOfWeek / 10), 4);
    payload.push_back(kSatellitesUsed);
    payload.insert(payload.end(), std::begin(kSatellites), std::end(kSatellites));
    return KSimSiRFParser::Packet(payload);
}

KSiRFDevice::Bytes KSiRFDevice::NavLibMeasurement(int64_t timeNs) const {
    const GpsNow now = Now(Options().gpsLeapSeconds, timeNs);
    const auto channel = static_cast<uint8_t>(periods % kSatellitesUsed);
    Bytes payload{kIdNavLibMeasurement, channel};
    PutBE(payload, static_cast<uint64_t>(timeNs / kNsPerMs) & 0xFFFFFFFFu, 4);  // receiver time tag, ms
    payload.push_back(kSatellites[channel]);
    PutSwappedDouble(payload, static_cast<double>(now.msOfWeek) / 1000.0);    // GPS software time, s
    PutSwappedDouble(payload, 20200000.0 + channel * 123456.789);            // pseudorange, m
    PutFloat(payload, 96250.0F + static_cast<float>(channel) * 11.0F);       // carrier frequency, m/s
    PutSwappedDouble(payload, 106150000.0 + channel * 4321.5);               // carrier phase, m
    PutBE(payload, 60000, 2);                                                // time in track, ms
    payload.push_back(0x17);                                                 // sync flags
    for (int i = 0; i < 10; ++i) payload.push_back(static_cast<uint8_t>(40 + channel));  // C/N0 each 100 ms
    PutBE(payload, 1000, 2);                                                 // delta range interval, ms
    PutBE(payload, 500, 2);                                                  // mean delta range time, ms
    PutBE(payload, 0, 2);                                                    // extrapolation time, ms
    payload.push_back(0);                                                    // phase error count
    payload.push_back(0);                                                    // low power count
    return KSimSiRFParser::Packet(payload);
}

void KSiRFDevice::SendOutput(int64_t timeNs) {
    // A quarter of an output period's worth of bytes at the port's rate (ten bits a byte): the
    // line stays mostly free for answers, and a rate switch waits for the output on the wire
    // for less than the pause a host makes before it talks at the new rate.
    const int64_t budget = static_cast<int64_t>(Baud()) * std::max(Options().outputPeriodMs, 1) / 40000;
    Bytes out;
    for (const Output& output : outputs) {
        if (output.rate == 0 || periods % output.rate != 0) continue;
        const Bytes message = Message(output.id, timeNs);
        if (static_cast<int64_t>(out.size() + message.size()) <= budget) out.insert(out.end(), message.begin(), message.end());
    }
    ++periods;
    if (!out.empty()) Transmit(timeNs, out);
}
