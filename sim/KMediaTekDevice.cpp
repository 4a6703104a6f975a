#include "sim/KMediaTekDevice.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/KSimNmea.h"
#include "sim/KSimTime.h"

namespace {

constexpr int32_t kTypeId = 16;
constexpr std::array<uint32_t, 10> kRates = {4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

enum Field : uint32_t { kGll = 0, kRmc = 1, kVtg = 2, kGga = 3, kGsa = 4, kGsv = 5, kZda = 17, kChannels = 18 };
constexpr uint32_t Bit(Field f) { return 1u << f; }
constexpr uint32_t kDefaultOutputs = Bit(kRmc) | Bit(kVtg) | Bit(kGga) | Bit(kGsa) | Bit(kGsv);
constexpr size_t kOutputFields = 19;

// Where the simulated antenna stands: 47.4125 N, 9.6307 E, 402.35 m.
constexpr const char* kPosition = "4724.7500,N,00937.8420,E";

bool IsRate(uint32_t baud) { return std::find(kRates.begin(), kRates.end(), baud) != kRates.end(); }

// The rate of a decimal field, 0 when it is none.
uint32_t RateOf(const std::string& field) {
    if (field.empty() || field.size() > 7 || field.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<uint32_t>(std::stoul(field));
}

} // namespace

KMediaTekDevice::KMediaTekDevice(uint32_t initialBaud, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions), outputs(kDefaultOutputs) {}

std::unique_ptr<KSimDevice> KMediaTekDevice::Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) {
    if (typeId != kTypeId || !IsRate(baud) || !options.receiverPort.empty()) return nullptr;
    return std::make_unique<KMediaTekDevice>(baud, options);
}

std::span<const uint32_t> KMediaTekDevice::Rates(int32_t typeId) {
    if (typeId != kTypeId) return {};
    return kRates;
}

void KMediaTekDevice::Read(uint8_t byte, std::vector<Bytes>& out) { KSimNmea::GatherLine(line, byte, kMaxRequest, out); }

void KMediaTekDevice::Acknowledge(int64_t timeNs, std::string_view command, char flag) {
    Reply(timeNs, KSimNmea::Sentence("PMTK001," + std::string(command) + "," + flag));
}

void KMediaTekDevice::Handle(int64_t timeNs, const Bytes& request) {
    // From after the "$" up to the CR LF.
    std::string_view text(reinterpret_cast<const char*>(request.data()) + 1, request.size() - 3);
    if (!text.starts_with("PMTK")) return;
    const size_t star = text.find('*');
    const bool checked = KSimNmea::ChecksumHolds(text, star);
    const std::vector<std::string> fields = KSimNmea::Fields(text.substr(0, star));
    const std::string command = fields[0].substr(4);
    if (command.size() != 3 || command.find_first_not_of("0123456789") != std::string::npos) return;
    if (!checked) {
        Acknowledge(timeNs, command, '0');
        return;
    }
    if (command == "605" && fields.size() == 1) {
        if (Options().wrongAcknowledgements) {
            Acknowledge(timeNs, "604", '3');
            return;
        }
        Reply(timeNs, KSimNmea::Sentence(std::string("PMTK705,") + kFirmware));
        Acknowledge(timeNs, command, '3');
    } else if (command == "251" && fields.size() == 2) {
        const uint32_t rate = RateOf(fields[1]);
        if (!IsRate(rate)) {
            Acknowledge(timeNs, command, '1');
        } else if (Options().refusesRateChange) {
            Acknowledge(timeNs, command, '2');
        } else {
            SwitchLater(timeNs, rate);
        }
    } else if (command == "314") {
        SetOutput(timeNs, std::vector<std::string>(fields.begin() + 1, fields.end()));
    } else {
        Acknowledge(timeNs, command, '1');
    }
}

void KMediaTekDevice::SetOutput(int64_t timeNs, const std::vector<std::string>& fields) {
    uint32_t wanted = 0;
    if (fields.size() == 1 && fields[0] == "-1") {
        wanted = kDefaultOutputs;
    } else if (fields.size() == kOutputFields) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].size() != 1 || fields[i][0] < '0' || fields[i][0] > '5') {
                Acknowledge(timeNs, "314", '0');
                return;
            }
            if (fields[i][0] != '0') wanted |= 1u << i;
        }
    } else {
        Acknowledge(timeNs, "314", '0');
        return;
    }
    Acknowledge(timeNs, "314", '3');
    if (!Streaming()) return;  // off until power-up
    outputs = wanted;
    if (outputs == 0) StopOutput();
}

void KMediaTekDevice::SendOutput(int64_t timeNs) {
    const KSimTime::Utc utc = KSimTime::UtcNow();
    char time[16], date[16], zdaDate[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d.%03d", utc.hour, utc.minute, utc.second,
                  static_cast<int>(KSimTime::MillisecondOfSecond(timeNs)));
    std::snprintf(date, sizeof date, "%02d%02d%02d", utc.day, utc.month, utc.year % 100);
    std::snprintf(zdaDate, sizeof zdaDate, "%02d,%02d,%04d", utc.day, utc.month, utc.year);
    const std::string t = time;
    Bytes out;
    auto add = [&out, this](Field field, const std::string& body) {
        if (!(outputs & Bit(field))) return;
        const Bytes sentence = KSimNmea::Sentence(body);
        out.insert(out.end(), sentence.begin(), sentence.end());
    };
    add(kGll, "GPGLL," + std::string(kPosition) + "," + t + ",A,A");
    add(kRmc, "GPRMC," + t + ",A," + kPosition + ",0.02,31.66," + date + ",,,A");
    add(kVtg, "GPVTG,31.66,T,,M,0.02,N,0.04,K,A");
    add(kGga, "GPGGA," + t + "," + kPosition + ",1,09,0.92,402.3,M,48.0,M,,");
    add(kGsa, "GPGSA,A,3,02,05,12,13,15,18,25,29,30,,,,1.71,0.92,1.44");
    add(kGsv, "GPGSV,1,1,04,02,36,305,41,05,63,209,44,12,14,049,36,13,33,163,42");
    add(kZda, "GPZDA," + t + "," + zdaDate + ",,");
    add(kChannels, "PMTKCHN,02041,05443,12362,13422,15402,18372,25382,29352,30392");
    if (!out.empty()) Transmit(timeNs, out);
}
