#include "sim/KNavComDevice.h"

#include <array>
#include <cstring>

#include "comm/KBaudRates.h"
#include "sim/KSimBytes.h"
#include "sim/KSimTime.h"

namespace {
using KSimBytes::PutDoubleLittleEndian;
using KSimBytes::PutLittleEndian;
constexpr uint8_t kIdAck = 0x06;
constexpr uint8_t kIdPortSettings = 0x11;
constexpr uint8_t kIdNak = 0x15;
constexpr uint8_t kIdOutputRequest = 0x20;
constexpr uint8_t kIdTime = 0x84;
constexpr uint8_t kIdPosition = 0xB0;
// Its own number of the port the cable is on, as its port settings name it.
constexpr uint8_t kPort = 0x04;


// Signed values go out as their two's complement.
void PutSigned(std::vector<uint8_t>& out, int64_t value, int bytes) { PutLittleEndian(out, static_cast<uint64_t>(value), bytes); }
} // namespace

KNavComDevice::KNavComDevice(uint32_t initialBaud, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions) {}

std::unique_ptr<KSimDevice> KNavComDevice::Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) {
    if (typeId != 8 || !options.receiverPort.empty()) return nullptr;
    return std::make_unique<KNavComDevice>(baud, options);
}

uint32_t KNavComDevice::BaudOfCode(int32_t code) {
    if (code < 0 || code % 2 != 0 || code / 2 >= static_cast<int32_t>(kBaudRates.size())) return 0;
    return static_cast<uint32_t>(kBaudRates[static_cast<size_t>(code / 2)]);
}

int32_t KNavComDevice::CodeOfBaud(uint32_t rate) {
    for (size_t i = 0; i < kBaudRates.size(); ++i)
        if (static_cast<uint32_t>(kBaudRates[i]) == rate) return static_cast<int32_t>(2 * i);
    return -1;
}

void KNavComDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    parser.Feed(byte);
    for (Bytes packet; parser.Next(packet);) out.push_back(packet);
}

void KNavComDevice::Handle(int64_t timeNs, const Bytes& packet) {
    const uint8_t id = packet[3];
    const Bytes payload(packet.begin() + KSimNavComParser::kHeader, packet.end() - 2);
    switch (id) {
    case kIdOutputRequest: HandleOutputRequest(timeNs, payload); break;
    case kIdPortSettings: HandlePortSettings(timeNs, payload); break;
    default: Refuse(timeNs, id, kErrorUnknownMessage); break;
    }
}

void KNavComDevice::HandleOutputRequest(int64_t timeNs, const Bytes& payload) {
    if (payload.size() < 3) {
        Refuse(timeNs, kIdOutputRequest, kErrorBadSetting);
        return;
    }
    const uint8_t wanted = payload[2];
    switch (wanted) {
    case 0:
        Acknowledge(timeNs, kIdOutputRequest);
        StopOutput();
        return;
    case kIdPortSettings:
        Acknowledge(timeNs, kIdOutputRequest);
        Answer(timeNs, kIdPortSettings, PortSettings());
        return;
    case kIdTime:
    case kIdPosition:
        Acknowledge(timeNs, kIdOutputRequest);
        // Built when sent, so that it tells the time of sending.
        ReplyWith(timeNs, [this, wanted](int64_t sendNs) {
            return KSimNavComParser::Packet(wanted, wanted == kIdTime ? TimeMessage(sendNs) : PositionMessage(sendNs));
        });
        return;
    default: Refuse(timeNs, kIdOutputRequest, kErrorUnknownMessage); return;
    }
}

void KNavComDevice::HandlePortSettings(int64_t timeNs, const Bytes& payload) {
    const int32_t code = payload.size() >= 4 ? payload[1] : -1;
    const uint32_t rate = BaudOfCode(code);
    if (rate == 0 || payload[3] != (code | 1)) {
        Refuse(timeNs, kIdPortSettings, kErrorBadSetting);
        return;
    }
    if (Options().refusesRateChange) {
        Refuse(timeNs, kIdPortSettings, kErrorRefused);
        return;
    }
    Acknowledge(timeNs, kIdPortSettings);
    // Once the acknowledgement has left at the old rate.
    SwitchLater(timeNs, rate, kSwitchDelayMs);
}

void KNavComDevice::Answer(int64_t timeNs, uint8_t id, Bytes payload) {
    Reply(timeNs, KSimNavComParser::Packet(id, payload));
}

void KNavComDevice::Acknowledge(int64_t timeNs, uint8_t id) { Answer(timeNs, kIdAck, {id, 0x00}); }

void KNavComDevice::Refuse(int64_t timeNs, uint8_t id, uint8_t error) { Answer(timeNs, kIdNak, {id, error}); }

KNavComDevice::Bytes KNavComDevice::PortSettings() const {
    const auto code = static_cast<uint8_t>(CodeOfBaud(Baud()));
    return {kPort, code, 0x00, static_cast<uint8_t>(code | 1), 0x00, 0x00};
}

KNavComDevice::Bytes KNavComDevice::TimeMessage(int64_t timeNs) const {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    const double seconds = static_cast<double>(gps.secondOfWeek) +
                           static_cast<double>(KSimTime::MillisecondOfSecond(timeNs)) / 1000.0;
    Bytes payload;
    PutLittleEndian(payload, static_cast<uint64_t>(gps.week), 2);
    PutDoubleLittleEndian(payload, seconds);
    PutSigned(payload, Options().gpsLeapSeconds, 1);
    return payload;
}

KNavComDevice::Bytes KNavComDevice::PositionMessage(int64_t timeNs) const {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    const int64_t towMs = gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs);
    const int64_t wander = static_cast<int64_t>(outputCount % 60) - 30;
    Bytes payload;
    PutLittleEndian(payload, static_cast<uint64_t>(gps.week), 2);
    PutLittleEndian(payload, static_cast<uint64_t>(towMs), 4);
    payload.push_back(3);                                // fix: 3D
    payload.push_back(9);                                // satellites used
    PutSigned(payload, 338358000 + wander, 4);           // latitude, 1e-7 degrees
    PutSigned(payload, -1183406000 - wander, 4);         // longitude, 1e-7 degrees
    PutSigned(payload, 28500 + 10 * wander, 4);          // ellipsoidal height, mm
    for (int axis = 0; axis < 3; ++axis) PutSigned(payload, wander % 3, 2);  // velocity N/E/U, cm/s
    PutLittleEndian(payload, 145, 2);                              // PDOP, hundredths
    return payload;
}

void KNavComDevice::SendOutput(int64_t timeNs) {
    Transmit(timeNs, KSimNavComParser::Packet(kIdPosition, PositionMessage(timeNs)));
    ++outputCount;
}
