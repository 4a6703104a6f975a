#include "sim/KTopconDevice.h"

#include <array>
#include <bit>
#include <cstdio>
#include <type_traits>

#include "comm/KBaudRates.h"
#include "sim/KSimTime.h"

namespace {

constexpr int32_t kTypeId = 11;
constexpr int64_t kMsPerDay = 86400000;
// Where the simulated antenna stands (WGS 84 ECEF, metres), and how sure it is of that.
constexpr double kPosition[3] = {-2694892.460, -4297418.470, 3854579.060};
constexpr float kPositionSigma = 0.015f;
constexpr uint8_t kSolutionType = 3; // phase differential
constexpr std::string_view kCurrentPort = "/cur/term";
constexpr std::string_view kSerialPorts = "/dev/ser/";

// Least significant byte first, as GREIS sends every binary field.
template <typename T> void PutLittle(std::vector<uint8_t>& out, T value) {
    using Word = std::conditional_t<sizeof(T) == 8, uint64_t,
                                    std::conditional_t<sizeof(T) == 4, uint32_t, uint16_t>>;
    const Word bits = std::bit_cast<Word>(value);
    for (size_t i = 0; i < sizeof bits; ++i)
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

std::vector<std::string_view> Split(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t comma = text.find(',');
        fields.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) return fields;
        text.remove_prefix(comma + 1);
    }
}

// A rate written in decimal digits only; 0 for anything else.
uint32_t RateOf(std::string_view text) {
    if (text.empty() || text.size() > 7) return 0;
    uint32_t rate = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        rate = rate * 10 + static_cast<uint32_t>(c - '0');
    }
    return rate;
}

bool RunsAt(uint32_t rate) { return IsBaudRate(rate); }

} // namespace

KTopconDevice::KTopconDevice(uint32_t initialBaud, char cabledPort,
                             const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions),
      port(cabledPort) {}

std::unique_ptr<KSimDevice> KTopconDevice::Create(int32_t typeId, uint32_t baud,
                                                  const KSimDeviceOptions& options) {
    const std::string& name = options.receiverPort;
    const char letter = name.empty() ? 'a' : name[0];
    if (typeId != kTypeId || name.size() > 1 || letter < 'a' || letter > 'd') return nullptr;
    return std::make_unique<KTopconDevice>(baud, letter, options);
}

KTopconDevice::Bytes KTopconDevice::Message(std::string_view id, const Bytes& body) {
    char header[8];
    std::snprintf(header, sizeof header, "%c%c%03X", id[0], id[1],
                  static_cast<unsigned>(body.size() & 0xFFF));
    Bytes out(header, header + 5);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

KTopconDevice::Bytes KTopconDevice::WithChecksum(std::string_view id, Bytes body) {
    body.push_back(0);
    Bytes out = Message(id, body);
    out.back() = Checksum(out.data(), out.size() - 1);
    return out;
}

uint8_t KTopconDevice::Checksum(const uint8_t* data, size_t size) {
    const auto rotate = [](uint8_t v) { return static_cast<uint8_t>(v << 2 | v >> 6); };
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum = static_cast<uint8_t>(rotate(sum) ^ data[i]);
    return rotate(sum);
}

uint16_t KTopconDevice::Crc16(const uint8_t* data, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

KTopconDevice::Bytes KTopconDevice::RmMessage(uint16_t epoch, uint32_t week, uint32_t towMs) {
    Bytes body;
    PutLittle(body, epoch);
    PutLittle(body, static_cast<uint16_t>(week % 1024));
    PutLittle(body, towMs);
    PutLittle(body, uint16_t{0}); // flags
    body.insert(body.end(), {0, 0});
    Bytes out = Message("rM", body);
    const uint16_t crc = Crc16(out.data(), out.size() - 2);
    out[out.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    out[out.size() - 1] = static_cast<uint8_t>(crc >> 8);
    return out;
}

void KTopconDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    if (byte == '\r' || byte == '\n') {
        if (!line.empty() && !overlong) {
            line.push_back(byte);
            out.push_back(std::move(line));
        }
        line.clear();
        overlong = false;
    } else if (!overlong && line.size() == kMaxCommand) {
        overlong = true;
        line.clear();
    } else if (!overlong) {
        line.push_back(byte);
    }
}

void KTopconDevice::Handle(int64_t timeNs, const Bytes& request) {
    // Up to the line end.
    std::string_view text(reinterpret_cast<const char*>(request.data()), request.size() - 1);
    std::string id;
    const bool identified = text.front() == '%';
    if (identified) {
        const size_t close = text.find('%', 1);
        if (close == std::string_view::npos) {
            Answer(timeNs, false, id, false);
            return;
        }
        id = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
    }
    if (text.empty()) { // an identifier alone asks only whether the receiver is there
        if (Options().missesFirstTry && ++pings % 2 == 1) return;
        Answer(timeNs, true, id, true);
        return;
    }
    uint32_t switchTo = 0;
    Answer(timeNs, Obey(text, switchTo), id, identified);
    if (switchTo) SwitchLater(timeNs, switchTo); // behind the reply, which leaves first
}

void KTopconDevice::Answer(int64_t timeNs, bool ok, const std::string& id, bool identified) {
    if (ok && !identified) return;
    const bool error = !ok || Options().wrongAcknowledgements;
    std::string body = identified ? "%" + id + "%" : "";
    if (!ok) body += "error";
    Bytes reply = Message(error ? "ER" : "RE", Bytes(body.begin(), body.end()));
    reply.insert(reply.end(), {'\r', '\n'});
    Reply(timeNs, std::move(reply));
}

bool KTopconDevice::SerialPort(std::string_view path, bool& own) const {
    if (!path.starts_with(kSerialPorts) || path.size() != kSerialPorts.size() + 1) return false;
    const char letter = path.back();
    own = letter == port;
    return letter >= 'a' && letter <= 'd';
}

bool KTopconDevice::Obey(std::string_view command, uint32_t& switchTo) {
    const std::vector<std::string_view> f = Split(command);
    bool own = true;
    if (f[0] == "dm") {
        // Without a port, or naming the current one, it is the port the command came in on.
        if (f.size() > 1 && !f[1].empty() && f[1] != kCurrentPort && !SerialPort(f[1], own))
            return false;
        // Single messages named after the port are not modelled: the output goes on.
        if (own && f.size() <= 2) StopOutput();
        return true;
    }
    if (f[0] == "set" && f.size() == 3 && f[1].starts_with("/par/") && f[1].ends_with("/rate")) {
        const std::string_view path = f[1].substr(4, f[1].size() - 9);
        if (path != kCurrentPort && !SerialPort(path, own)) return false;
        const uint32_t rate = RateOf(f[2]);
        if (!RunsAt(rate) || Options().refusesRateChange) return false;
        if (own) switchTo = rate;
        return true;
    }
    return false;
}

void KTopconDevice::SendOutput(int64_t timeNs) {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    const auto towMs =
        static_cast<uint32_t>(gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs));
    const auto week = static_cast<uint32_t>(gps.week);
    Bytes out;
    const auto add = [&out](const Bytes& message) {
        out.insert(out.end(), message.begin(), message.end());
        out.push_back('\n');
    };
    Bytes field;
    PutLittle(field, static_cast<uint32_t>(towMs % kMsPerDay));
    add(WithChecksum("~~", field));
    field.clear();
    PutLittle(field, towMs);
    PutLittle(field, static_cast<uint16_t>(week));
    add(WithChecksum("GT", field));
    add(RmMessage(epochs++, week, towMs));
    field.clear();
    for (double axis : kPosition)
        PutLittle(field, axis);
    PutLittle(field, kPositionSigma);
    field.push_back(kSolutionType);
    add(WithChecksum("PO", field));
    add(WithChecksum("||", {}));
    Transmit(timeNs, out);
}
