#include "sim/KSeptentrioDevice.h"

#include <algorithm>
#include <cctype>

#include "sim/KSimBytes.h"
#include "sim/KSimTime.h"

namespace {

using KSimBytes::PutLittleEndian;

constexpr int32_t kTypeId = 17;
constexpr std::array<uint32_t, 11> kRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr int64_t kNsPerMs = 1000000;
constexpr uint16_t kReceiverTime = 5914;
constexpr uint16_t kEndOfPvt = 5921;

bool IsRate(uint32_t baud) { return std::find(kRates.begin(), kRates.end(), baud) != kRates.end(); }

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The arguments of a command line, blanks around them dropped; the first is the command.
std::vector<std::string> Arguments(std::string_view line) {
    std::vector<std::string> out;
    for (;;) {
        const size_t comma = line.find(',');
        std::string_view part = line.substr(0, comma);
        while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
        out.emplace_back(part);
        if (comma == std::string_view::npos) return out;
        line.remove_prefix(comma + 1);
    }
}

// "COM1".."COM4" (any case): 1..4; 0 otherwise.
int32_t PortOf(const std::string& argument) {
    const std::string text = Lower(argument);
    return text.size() == 4 && text.starts_with("com") && text[3] >= '1' && text[3] <= '4' ? text[3] - '0' : 0;
}

uint16_t Crc16(const uint8_t* data, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

} // namespace

KSeptentrioDevice::KSeptentrioDevice(uint32_t initialBaud, int32_t cabledPort, const KSimDeviceOptions& deviceOptions)
    : KSimReceiverDevice(initialBaud, deviceOptions), port(cabledPort) {
    rates.fill(Baud());
}

std::unique_ptr<KSimDevice> KSeptentrioDevice::Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options) {
    const std::string& name = options.receiverPort;
    int32_t n = 1;
    if (name.size() == 1 && name[0] >= '1' && name[0] <= '4') n = name[0] - '0';
    else if (!name.empty()) n = PortOf(name);
    if (typeId != kTypeId || !IsRate(baud) || n == 0) return nullptr;
    return std::make_unique<KSeptentrioDevice>(baud, n, options);
}

std::span<const uint32_t> KSeptentrioDevice::Rates(int32_t typeId) {
    if (typeId != kTypeId) return {};
    return kRates;
}

KSeptentrioDevice::Bytes KSeptentrioDevice::SbfBlock(uint16_t id, const Bytes& body) {
    Bytes block = {'$', '@', 0, 0};
    PutLittleEndian(block, id, 2);
    const size_t length = (8 + body.size() + 3) / 4 * 4;
    PutLittleEndian(block, length, 2);
    block.insert(block.end(), body.begin(), body.end());
    block.resize(length, 0);
    const uint16_t crc = Crc16(block.data() + 4, block.size() - 4);
    block[2] = static_cast<uint8_t>(crc & 0xFF);
    block[3] = static_cast<uint8_t>(crc >> 8);
    return block;
}

void KSeptentrioDevice::Read(uint8_t byte, std::vector<Bytes>& out) {
    const bool lf = byte == '\n';
    if (lf && afterCr) {
        afterCr = false;
        return;
    }
    afterCr = byte == '\r';
    line.push_back(byte);
    if (byte == '\r' || lf) {
        out.push_back(std::move(line));
        line.clear();
    } else if (line.size() > kMaxCommand) {
        line.clear();  // forgotten whole: its end reads as an empty line
    }
}

std::string KSeptentrioDevice::Prompt() const {
    const int32_t shown = Options().wrongAcknowledgements ? port % 4 + 1 : port;
    return "COM" + std::to_string(shown) + ">";
}

std::string KSeptentrioDevice::Settings(int32_t n) const {
    return "  COMSettings, COM" + std::to_string(n) + ", baud" + std::to_string(PortRate(n)) + ", bits8, No, bit1, none\r\n";
}

std::string KSeptentrioDevice::Answer(std::string_view text, uint32_t& switchTo) {
    const std::string sent(text);
    if (text.empty()) return "\r\n";
    const std::vector<std::string> args = Arguments(text);
    const std::string command = Lower(args[0]);
    const std::string ok = "$R: " + sent + "\r\n";
    const std::string invalid = "$R? " + sent + ": Invalid command!\r\n";
    if ((command == "grc" || command == "getreceivercapabilities") && args.size() == 1)
        return ok + "  ReceiverCapabilities, GPSL1CA+GPSL2C+GALE1BC, COM1+COM2+COM3+COM4\r\n";
    if ((command == "gcs" || command == "getcomsettings") && args.size() == 2 && PortOf(args[1]))
        return ok + Settings(PortOf(args[1]));
    if ((command == "scs" || command == "setcomsettings") && args.size() >= 3 && PortOf(args[1])) {
        const std::string rate = Lower(args[2]);
        const bool number = rate.size() > 4 && rate.size() <= 11 && rate.starts_with("baud") &&
                            rate.find_first_not_of("0123456789", 4) == std::string::npos;
        const uint32_t wanted = number ? static_cast<uint32_t>(std::stoul(rate.substr(4))) : 0;
        if (!IsRate(wanted)) return "$R? " + sent + ": Argument 'Rate' is invalid!\r\n";
        if (Options().refusesRateChange) return "$R? " + sent + ": Argument 'Rate' could not be handled!\r\n";
        const int32_t n = PortOf(args[1]);
        rates[static_cast<size_t>(n - 1)] = wanted;
        if (n == port) switchTo = wanted;
        return ok + Settings(n);
    }
    if ((command == "eccf" || command == "execopyconfigfile") && args.size() == 3 && Lower(args[1]) == "current" &&
        Lower(args[2]) == "boot") {
        if (Options().refusesSave) return "$R? " + sent + ": Configuration file could not be written!\r\n";
        savedBaud = Baud();
        return ok + "  CopyConfigFile, Current, Boot\r\n";
    }
    return invalid;
}

void KSeptentrioDevice::Handle(int64_t timeNs, const Bytes& request) {
    // Without its line end.
    const std::string_view text(reinterpret_cast<const char*>(request.data()), request.size() - 1);
    std::string answer;
    uint32_t switchTo = 0;
    const bool discarded = timeNs < promptSentNs;
    answer = discarded ? "$R? ASCII commands between prompts were discarded!\r\n" : Answer(text, switchTo);
    answer += Prompt();
    if (!discarded) {
        // When the prompt will have left: after the reply delay, ten bits a byte at its rate.
        promptSentNs = timeNs + static_cast<int64_t>(std::max(Options().replyDelayMs, 0)) * kNsPerMs +
                       static_cast<int64_t>(answer.size()) * 10'000'000'000 / Baud();
    }
    Reply(timeNs, Bytes(answer.begin(), answer.end()));
    if (switchTo) SwitchLater(timeNs, switchTo);  // queued behind the answer, which leaves first
}

void KSeptentrioDevice::SendOutput(int64_t timeNs) {
    const KSimTime::Gps gps = KSimTime::GpsNow(Options().gpsLeapSeconds);
    Bytes time;
    PutLittleEndian(time, static_cast<uint64_t>(gps.secondOfWeek * 1000 + KSimTime::MillisecondOfSecond(timeNs)), 4);
    PutLittleEndian(time, static_cast<uint64_t>(gps.week), 2);
    const KSimTime::Utc utc = KSimTime::UtcNow();
    Bytes receiverTime = time;
    for (int32_t field : {utc.year % 100, utc.month, utc.day, utc.hour, utc.minute, utc.second})
        receiverTime.push_back(static_cast<uint8_t>(field));
    receiverTime.insert(receiverTime.end(), {18, 3});  // leap seconds, synchronisation level
    Bytes out = SbfBlock(kReceiverTime, receiverTime);
    const Bytes second = SbfBlock(kEndOfPvt, time);
    out.insert(out.end(), second.begin(), second.end());
    Transmit(timeNs, out);
}
