#include "sim/KNovatelDevice.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "comm/KBaudRates.h"
#include "sim/KSimBytes.h"
#include "sim/KSimTime.h"

using KSimBytes::PutDoubleLittleEndian;
using KSimBytes::PutLittleEndian;

namespace {

constexpr uint16_t kIdLog = 1;
constexpr uint16_t kIdCom = 4;
constexpr uint16_t kIdVersion = 37;
constexpr uint16_t kIdUnlogAll = 38;
constexpr uint16_t kIdTime = 101;
constexpr uint16_t kIdRangeCompressed = 140;
constexpr uint8_t kResponseBit = 0x80;

// Its port in the numbering of each command: COM1 as a port and as a port address, the port the
// command arrives on likewise, every port, and the other two COM ports.
constexpr uint32_t kCom1 = 1;
constexpr uint32_t kCom1Address = 0x20;
constexpr uint32_t kThisPort = 6;
constexpr uint32_t kThisPortAddress = 0xC0;
constexpr uint32_t kAllPorts = 8;
constexpr uint32_t kCom2 = 2, kCom3 = 3;
constexpr uint32_t kTriggerOnce = 4;

constexpr size_t kUnlogAllFields = 8;
constexpr size_t kLogFields = 32;
constexpr size_t kComFields = 32;

constexpr uint8_t kFineSteering = 180;
constexpr uint8_t kIdleTime = 0x9C;  // 78 % idle
constexpr uint16_t kSoftwareBuild = 3800;
constexpr uint8_t kSatellites[] = {5, 12};

const char* ResponseText(uint32_t responseId) {
    switch (responseId) {
    case KNovatelDevice::kOk: return "OK";
    case KNovatelDevice::kNoSuchLog: return "REQUESTED LOG DOES NOT EXIST";
    case KNovatelDevice::kCommandFailed: return "COMMAND FAILED ON RECEIVER";
    case KNovatelDevice::kInvalidMessageId: return "INVALID MESSAGE ID";
    case KNovatelDevice::kMissingField: return "MESSAGE MISSING FIELD";
    case KNovatelDevice::kOutOfRange: return "PARAMETER IS OUT OF RANGE";
    case KNovatelDevice::kInvalidTrigger: return "TRIGGER NOT VALID FOR THIS LOG";
    default: return "";
    }
}

uint32_t Field(const std::vector<uint8_t>& payload, size_t at, size_t width) {
    return static_cast<uint32_t>(KSimBytes::ReadLittleEndian(payload.data() + at, width));
}

// A text in a fixed field, padded with zeros.
void PutText(std::vector<uint8_t>& out, const char* text, size_t width) {
    const size_t length = std::min(std::strlen(text), width);
    out.insert(out.end(), text, text + length);
    out.insert(out.end(), width - length, 0);
}

bool RunsAt(uint32_t baud) { return IsBaudRate(baud); }
} // namespace

KNovatelDevice::KNovatelDevice(uint32_t initialBaud, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions) {}

std::unique_ptr<KSimDevice> KNovatelDevice::Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) {
    if (typeId != 9 || !options.receiverPort.empty()) return nullptr;
    return std::make_unique<KNovatelDevice>(baud, options);
}

void KNovatelDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    parser.Feed(byte);
    for (Bytes message; parser.Next(message);) out.push_back(message);
}

void KNovatelDevice::Handle(int64_t timeNs, const Bytes& message) {
    if (message[6] & kResponseBit) return;  // a response is no command
    const auto id = static_cast<uint16_t>(Field(message, 4, 2));
    const Bytes payload(message.begin() + KSimNovatelParser::kHeaderLength, message.end() - KSimNovatelParser::kCrcLength);
    if (Options().wrongAcknowledgements) {
        Respond(timeNs, id, kCommandFailed);
        return;
    }
    switch (id) {
    case kIdUnlogAll: UnlogAll(timeNs, payload); return;
    case kIdLog: Log(timeNs, payload); return;
    case kIdCom: Com(timeNs, payload); return;
    default: Respond(timeNs, id, kInvalidMessageId); return;
    }
}

void KNovatelDevice::UnlogAll(int64_t timeNs, const Bytes& payload) {
    if (payload.size() < kUnlogAllFields) {
        Respond(timeNs, kIdUnlogAll, kMissingField);
        return;
    }
    const uint32_t port = Field(payload, 0, 4);
    if (port == kAllPorts || port == kThisPort || port == kCom1) StopOutput();
    Respond(timeNs, kIdUnlogAll, kOk);
}

void KNovatelDevice::Log(int64_t timeNs, const Bytes& payload) {
    if (payload.size() < kLogFields) {
        Respond(timeNs, kIdLog, kMissingField);
        return;
    }
    const uint32_t portAddress = Field(payload, 0, 4);
    const auto logId = static_cast<uint16_t>(Field(payload, 4, 2));
    if (logId != kIdVersion && logId != kIdTime && logId != kIdRangeCompressed) {
        Respond(timeNs, kIdLog, kNoSuchLog);
        return;
    }
    if (Field(payload, 8, 4) != kTriggerOnce) {
        Respond(timeNs, kIdLog, kInvalidTrigger);
        return;
    }
    Respond(timeNs, kIdLog, kOk);
    if (portAddress != kThisPortAddress && portAddress != kCom1Address) return;
    // Built when sent, so that it tells the time of sending.
    ReplyWith(timeNs, [this, logId](int64_t sendNs) { return LogMessage(logId, sendNs); });
}

void KNovatelDevice::Com(int64_t timeNs, const Bytes& payload) {
    if (payload.size() < kComFields) {
        Respond(timeNs, kIdCom, kMissingField);
        return;
    }
    const uint32_t port = Field(payload, 0, 4);
    if (port == kCom2 || port == kCom3) {
        Respond(timeNs, kIdCom, kOk);
        return;
    }
    const uint32_t rate = Field(payload, 4, 4);
    // Only the framing the line carries: no parity, 8 data bits, 1 stop bit.
    const bool framing = Field(payload, 8, 4) == 0 && Field(payload, 12, 4) == 8 && Field(payload, 16, 4) == 1;
    if ((port != kThisPort && port != kCom1) || !RunsAt(rate) || !framing) {
        Respond(timeNs, kIdCom, kOutOfRange);
        return;
    }
    if (Options().refusesRateChange) {
        Respond(timeNs, kIdCom, kCommandFailed);
        return;
    }
    Respond(timeNs, kIdCom, kOk);
    SwitchLater(timeNs, rate);  // once the response has left at the old rate
}

void KNovatelDevice::Respond(int64_t timeNs, uint16_t commandId, uint32_t responseId) {
    ReplyWith(timeNs, [this, commandId, responseId](int64_t sendNs) {
        Bytes payload;
        PutLittleEndian(payload, responseId, 4);
        const char* text = ResponseText(responseId);
        payload.insert(payload.end(), text, text + std::strlen(text));
        return Message(commandId, kResponseBit, sendNs, payload);
    });
}

KNovatelDevice::Bytes KNovatelDevice::Message(uint16_t id, uint8_t type, int64_t sendNs, const Bytes& payload) const {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    KSimNovatelParser::Header header;
    header.messageId = id;
    header.messageType = type;
    header.portAddress = static_cast<uint8_t>(kCom1Address);
    header.idleTime = kIdleTime;
    header.timeStatus = kFineSteering;
    header.week = static_cast<uint16_t>(gps.week);
    header.milliseconds = static_cast<uint32_t>(gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(sendNs));
    header.softwareVersion = kSoftwareBuild;
    return KSimNovatelParser::Message(header, payload);
}

KNovatelDevice::Bytes KNovatelDevice::LogMessage(uint16_t logId, int64_t sendNs) const {
    switch (logId) {
    case kIdVersion: return Message(logId, 0, sendNs, VersionPayload());
    case kIdTime: return Message(logId, 0, sendNs, TimePayload(sendNs));
    default: return Message(logId, 0, sendNs, RangePayload());
    }
}

// One component, the receiver card: type, model, serial number, hardware, software and boot
// versions, firmware date and time, in fixed text fields.
KNovatelDevice::Bytes KNovatelDevice::VersionPayload() {
    Bytes payload;
    PutLittleEndian(payload, 1, 4);  // components
    PutLittleEndian(payload, 1, 4);  // GPS card
    PutText(payload, "OEMV3SIM", 16);
    PutText(payload, "SIM09180001", 16);
    PutText(payload, "OEMV3-1.01", 16);
    PutText(payload, "3.800", 16);
    PutText(payload, "3.000", 16);
    PutText(payload, "2009/Nov/18", 12);
    PutText(payload, "12:00:00", 12);
    return payload;
}

// Clock status, offset and its deviation, the UTC offset (UTC = GPS + offset), then UTC as year,
// month, day, hour, minute, milliseconds of the minute, and the UTC status (valid).
KNovatelDevice::Bytes KNovatelDevice::TimePayload(int64_t sendNs) const {
    const KSimTime::Utc utc = KSimTime::UtcNow();
    Bytes payload;
    PutLittleEndian(payload, 0, 4);  // clock model valid
    PutDoubleLittleEndian(payload, 0.0);
    PutDoubleLittleEndian(payload, 0.0);
    PutDoubleLittleEndian(payload, -static_cast<double>(Options().gpsLeapSeconds));
    PutLittleEndian(payload, static_cast<uint64_t>(utc.year), 4);
    for (int32_t field : {utc.month, utc.day, utc.hour, utc.minute}) payload.push_back(static_cast<uint8_t>(field));
    PutLittleEndian(payload, static_cast<uint64_t>(utc.second * 1000 + KSimTime::MillisecondOfSecond(sendNs)), 4);
    PutLittleEndian(payload, 1, 4);
    return payload;
}

// The observation count, then 24 bytes per satellite: tracking status, Doppler, pseudorange and
// carrier phase, their deviations, the PRN, lock time and C/N0. Stand-ins apart from the count
// and the PRN: no host reads them.
KNovatelDevice::Bytes KNovatelDevice::RangePayload() const {
    Bytes payload;
    PutLittleEndian(payload, sizeof kSatellites, 4);
    for (uint8_t prn : kSatellites) {
        PutLittleEndian(payload, 0x08109C04u, 4);
        PutLittleEndian(payload, 0x0123456789ull * prn + outputCount, 8);
        PutLittleEndian(payload, 1000003u * prn, 4);
        payload.push_back(0x35);
        payload.push_back(prn);
        PutLittleEndian(payload, (uint64_t{25} << 21) | (outputCount * 32u & 0x1FFFFFu), 3);
        PutLittleEndian(payload, 0, 3);
    }
    return payload;
}

void KNovatelDevice::SendOutput(int64_t timeNs) {
    Transmit(timeNs, Message(kIdRangeCompressed, 0, timeNs, RangePayload()));
    ++outputCount;
}
