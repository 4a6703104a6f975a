#include "sim/KTrimbleDevice.h"

#include <array>
#include <bit>

#include "comm/KBaudRates.h"
#include "sim/KSimBytes.h"
#include "sim/KSimTime.h"

namespace {
using KSimBytes::PutBigEndian;
using KSimBytes::PutDoubleBigEndian;

constexpr uint8_t kSetPort = 0x48;
constexpr uint8_t kGetOptions = 0x4A;
constexpr uint8_t kOptions = 0x4B;
constexpr uint8_t kRawData = 0x57;
constexpr size_t kSetPortData = 10;
constexpr uint8_t kSatellites[] = {5, 12, 17, 24};

bool ServesType(int32_t typeId) { return typeId >= 12 && typeId <= 14; }

} // namespace

KTrimbleDevice::KTrimbleDevice(uint32_t initialBaud, uint8_t receiverPort, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions), port(receiverPort) {}

std::unique_ptr<KSimDevice> KTrimbleDevice::Create(int32_t typeId, uint32_t baud,
                                                   const KSimDeviceOptions& options) {
    uint8_t port = 0;
    if (!ServesType(typeId) || !PortOfOption(options.receiverPort, port)) return nullptr;
    return std::make_unique<KTrimbleDevice>(baud, port, options);
}

bool KTrimbleDevice::PortOfOption(const std::string& text, uint8_t& number) {
    if (text.empty()) {
        number = 1;
        return true;
    }
    if (text.size() > 3) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 255) return false;
    number = static_cast<uint8_t>(value);
    return true;
}

bool KTrimbleDevice::SupportsBaud(uint32_t rate) { return IsBaudRate(rate); }

void KTrimbleDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    parser.Feed(byte);
    for (Bytes packet; parser.Next(packet);) out.push_back(packet);
}

void KTrimbleDevice::Handle(int64_t timeNs, const Bytes& request) {
    if (request.size() == 1) {  // ENQ: "are you there?"
        Reply(timeNs, {kAck});
        return;
    }
    const Bytes data(request.begin() + 4, request.end() - 2);
    switch (request[2]) {
    case kGetOptions: Reply(timeNs, KSimTrimbleParser::Packet(kOptions, OptionsReply())); return;
    case kSetPort: ChangePort(timeNs, data); return;
    default: Reply(timeNs, {kNak}); return;
    }
}

void KTrimbleDevice::ChangePort(int64_t timeNs, const Bytes& data) {
    if (data.size() != kSetPortData) {
        Reply(timeNs, {kNak});
        return;
    }
    // Another port's settings change that port, which has no cable here.
    if (data[0] != port) {
        Reply(timeNs, {kAck});
        return;
    }
    const uint32_t rate = static_cast<uint32_t>(data[1]) << 24 | static_cast<uint32_t>(data[2]) << 16 |
                          static_cast<uint32_t>(data[3]) << 8 | data[4];
    if (Options().refusesRateChange || !SupportsBaud(rate)) {
        Reply(timeNs, {kNak});
        return;
    }
    Reply(timeNs, {kAck});
    SwitchLater(timeNs, rate);  // once the acknowledgement has left the wire
}

KTrimbleDevice::Bytes KTrimbleDevice::OptionsReply() const {
    // The receiver's option settings. A host reads data byte 6 from them, the port the request
    // came in on; the other bytes stand for settings the simulation does not model.
    return {0x00, 0x0A, 0x07, 0x01, 0x02, 0x09, port, 0x00, 0x01, 0x00, 0x00, 0x00};
}

KTrimbleDevice::Bytes KTrimbleDevice::RawDataRecord(double msOfWeek, uint8_t replyNumber) {
    Bytes data{0x00, 0x11, replyNumber, 0x00};
    PutDoubleBigEndian(data, msOfWeek);
    PutDoubleBigEndian(data, 0.000137);  // clock offset, ms
    data.push_back(static_cast<uint8_t>(sizeof kSatellites));
    for (uint8_t prn : kSatellites) {
        data.push_back(prn);
        data.push_back(0x0F);                            // tracking flags
        data.push_back(static_cast<uint8_t>(40 + prn));  // signal to noise, dB-Hz
        PutDoubleBigEndian(data, 20000000.0 + prn * 123456.789);  // pseudorange, m
    }
    return KSimTrimbleParser::Packet(kRawData, data);
}

void KTrimbleDevice::SendOutput(int64_t timeNs) {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    const int64_t msOfWeek = gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs);
    Transmit(timeNs, RawDataRecord(static_cast<double>(msOfWeek), static_cast<uint8_t>(outputCount)));
    ++outputCount;
}
