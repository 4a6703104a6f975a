#include "sim/KAshtechDevice.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "sim/KSimBytes.h"
#include "sim/KSimNmea.h"
#include "sim/KSimTime.h"

namespace {
using KSimBytes::PutBigEndian;
using KSimBytes::PutDoubleBigEndian;
constexpr std::array<uint32_t, 10> kRates = {300,  600,   1200,  2400,  4800,
                                             9600, 19200, 38400, 57600, 115200};

// Where the simulated antenna stands: 47.4125 N, 9.6307 E, 402.35 m, and its WGS 84 ECEF.
constexpr const char* kLatitude = "4724.75000,N";
constexpr const char* kLongitude = "00937.84200,E";
constexpr double kEcef[3] = {4263363.607, 723443.921, 4673216.205};

bool ServesType(int32_t typeId) {
    return typeId >= 1 && typeId <= 3;
}

std::string UtcOfDay(int64_t timeNs) {
    const KSimTime::Utc utc = KSimTime::UtcNow();
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d.%02d", utc.hour, utc.minute, utc.second,
                  static_cast<int>(KSimTime::MillisecondOfSecond(timeNs) / 10));
    return text;
}
} // namespace

KAshtechDevice::KAshtechDevice(uint32_t initialBaud, char cabledPort, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions), port(cabledPort) {}

std::unique_ptr<KSimDevice> KAshtechDevice::Create(int32_t typeId, uint32_t baud,
                                                   const KSimDeviceOptions& options) {
    const std::string& name = options.receiverPort;
    const char letter = name.empty() ? 'A' : name[0];
    if (!ServesType(typeId) || CodeOfBaud(baud) < 0 || name.size() > 1 || letter < 'A' ||
        letter > 'E')
        return nullptr;
    return std::make_unique<KAshtechDevice>(baud, letter, options);
}

std::span<const uint32_t> KAshtechDevice::Rates(int32_t typeId) {
    if (!ServesType(typeId)) return {};
    return kRates;
}

uint32_t KAshtechDevice::BaudOfCode(int32_t code) {
    return code >= 0 && code < static_cast<int32_t>(kRates.size())
               ? kRates[static_cast<size_t>(code)]
               : 0;
}

int32_t KAshtechDevice::CodeOfBaud(uint32_t rate) {
    for (size_t code = 0; code < kRates.size(); ++code)
        if (kRates[code] == rate) return static_cast<int32_t>(code);
    return -1;
}

KAshtechDevice::Bytes KAshtechDevice::Sentence(std::string_view body) { return KSimNmea::Sentence(body); }

void KAshtechDevice::Read(uint8_t byte, std::vector<Bytes>& out) { KSimNmea::GatherLine(line, byte, kMaxRequest, out); }

void KAshtechDevice::Handle(int64_t timeNs, const Bytes& request) {
    // From after the "$" up to the CR LF.
    std::string_view text(reinterpret_cast<const char*>(request.data()) + 1, request.size() - 3);
    if (!text.starts_with("PASHQ,") && !text.starts_with("PASHS,")) return; // not a command
    const size_t star = text.find('*');
    if (star != std::string_view::npos) {
        if (!KSimNmea::ChecksumHolds(text, star)) {
            Reply(timeNs, Sentence("PASHR,NAK"));
            return;
        }
        text = text.substr(0, star);
    }
    const std::vector<std::string> fields = KSimNmea::Fields(text);
    if (fields.size() == 2 && fields[0] == "PASHQ" && fields[1] == "PRT") {
        ++portQueries;
        if (Options().missesFirstTry && portQueries % 2 == 1) return;
        char body[32];
        std::snprintf(body, sizeof body, "PASHR,PRT,%c,%d", port, CodeOfBaud(Baud()));
        Reply(timeNs, Sentence(body));
        return;
    }
    if (fields[0] != "PASHS") return; // a query it does not know
    uint32_t switchTo = 0;
    Reply(timeNs, Sentence(Apply(fields, switchTo) ? "PASHR,ACK" : "PASHR,NAK"));
    if (switchTo) SwitchLater(timeNs, switchTo); // queued behind the ACK, which leaves first
}

bool KAshtechDevice::PortField(const std::string& field, bool& own) const {
    if (field.size() != 1) return false;
    own = field[0] == port;
    return own || (field[0] >= 'A' && field[0] <= 'D');
}

bool KAshtechDevice::Apply(const std::vector<std::string>& f, uint32_t& switchTo) {
    bool own = false;
    if (f.size() == 3 && f[1] == "OUT" && PortField(f[2], own)) {
        if (own) TurnOff(kAll);
        return true;
    }
    if (f.size() == 5 && (f[1] == "NME" || f[1] == "RAW") && f[4] == "OFF" &&
        PortField(f[3], own)) {
        unsigned which = 0;
        if (f[2] == "ALL")
            which = kAll;
        else if (f[1] == "RAW" && f[2] == "PBN")
            which = kPbn;
        else if (f[1] == "NME" && f[2] == "GGA")
            which = kGga;
        else if (f[1] == "NME" && f[2] == "POS")
            which = kPos;
        else if (f[1] == "NME" && f[2] == "XDR")
            which = kXdr;
        if (which == 0) return false;
        if (own) TurnOff(which);
        return true;
    }
    if (f.size() == 4 && f[1] == "SPD" && PortField(f[2], own) && f[3].size() == 1 &&
        f[3][0] >= '0' && f[3][0] <= '9') {
        if (!own) return true; // another port's rate: not modelled
        if (Options().refusesRateChange) return false;
        switchTo = BaudOfCode(f[3][0] - '0');
        return true;
    }
    return false;
}

void KAshtechDevice::TurnOff(unsigned which) {
    outputs &= ~which;
    if (outputs == 0) StopOutput();
}

void KAshtechDevice::SendOutput(int64_t timeNs) {
    const std::string time = UtcOfDay(timeNs);
    Bytes out;
    auto add = [&out](const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); };
    if (outputs & kGga)
        add(Sentence("GPGGA," + time + "," + kLatitude + "," + kLongitude +
                     ",2,09,1.0,402.35,M,48.01,M,01,0001"));
    if (outputs & kPos)
        add(Sentence("PASHR,POS,1,09," + time + "," + kLatitude + "," + kLongitude +
                     ",+00402.35,,000.0,000.0,+000.0,01.8,01.0,01.5,01.1,VL00"));
    if (outputs & kXdr) add(Sentence("GPXDR,C,21.5,C,AIR,P,0.9651,B,BARO"));
    if (outputs & kPbn) add(PbnResponse(timeNs));
    Transmit(timeNs, out);
}

KAshtechDevice::Bytes KAshtechDevice::PbnResponse(int64_t timeNs) const {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    Bytes body;
    // Big-endian, as the receiver's binary responses are.
    PutBigEndian(body, static_cast<uint64_t>(gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs)), 4);
    body.insert(body.end(), {'V', 'L', 'N', 'R'}); // site name
    for (double axis : kEcef)
        PutDoubleBigEndian(body, axis);
    PutBigEndian(body, std::bit_cast<uint32_t>(12.5f), 4); // clock offset, metres
    for (int i = 0; i < 3; ++i)
        PutBigEndian(body, std::bit_cast<uint32_t>(0.0f), 4); // velocity: standing still
    PutBigEndian(body, std::bit_cast<uint32_t>(0.25f), 4);    // clock drift, metres per second
    PutBigEndian(body, 18, 2);                                 // PDOP, tenths
    uint32_t sum = 0;
    for (size_t i = 0; i < body.size(); i += 2)
        sum += (uint32_t{body[i]} << 8) | body[i + 1];
    const std::string head = "$PASHR,PBN,";
    Bytes out(head.begin(), head.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBigEndian(out, sum & 0xFFFF, 2);
    out.push_back('\r');
    out.push_back('\n');
    return out;
}
