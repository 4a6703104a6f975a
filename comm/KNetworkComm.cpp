#include "comm/KNetworkComm.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "comm/KOutputDrain.h"

namespace {

constexpr const char* kNotInstalled = "COM Port Busy Or Not Installed";
constexpr const char* kNotInitialized = "Unable to initialize COM Port to requested settings";
constexpr const char* kRfc2217 = "rfc2217://";
constexpr const char* kSocket = "socket://";
// Bytes kept for a reader that falls behind; beyond, the oldest go (a serial driver drops too).
constexpr size_t kMostKept = 1 << 20;
constexpr int kSendMs = 2000;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

uint8_t ParityCode(char parity) {
    switch (parity) {
    case 'O': return 2;
    case 'E': return 3;
    case 'M': return 4;
    case 'S': return 5;
    default: return 1;
    }
}

} // namespace

bool IsNetworkPortName(const std::string& text) {
    return StartsWithNoCase(text, kRfc2217) || StartsWithNoCase(text, kSocket);
}

bool IsFixedRatePort(const std::string& device) { return StartsWithNoCase(device, kSocket); }

bool ParseNetworkAddress(const std::string& text, KNetworkAddress& address, std::string& error) {
    std::string rest;
    if (StartsWithNoCase(text, kRfc2217)) {
        address.scheme = KNetworkAddress::Rfc2217;
        rest = text.substr(std::strlen(kRfc2217));
    } else if (StartsWithNoCase(text, kSocket)) {
        address.scheme = KNetworkAddress::Socket;
        rest = text.substr(std::strlen(kSocket));
    } else {
        error = "'" + text + "' is not a network port: name one as rfc2217://HOST:PORT or socket://HOST:PORT";
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find_first_of("/?#@ ") != std::string::npos) {
        error = "'" + text + "': only HOST:PORT may follow the scheme (no path, options or user)";
        return false;
    }
    size_t colon = std::string::npos;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            error = "'" + text + "': an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        address.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon) {
            error = "'" + text + "' has no port number: name it as HOST:PORT (an IPv6 address as [ADDRESS]:PORT)";
            return false;
        }
        address.host = rest.substr(0, colon);
    }
    address.port = rest.substr(colon + 1);
    const bool digits = !address.port.empty() && address.port.size() <= 5 &&
                        std::all_of(address.port.begin(), address.port.end(),
                                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
    if (address.host.empty() || !digits || std::stoi(address.port) < 1 || std::stoi(address.port) > 65535) {
        error = "'" + text + "': the host must be named and the port be a number from 1 to 65535";
        return false;
    }
    return true;
}

KNetworkComm::~KNetworkComm() { KNetworkComm::Close(); }

bool KNetworkComm::Fail(KOpenError::Kind kind, const std::string& reason, const std::string& remedy) {
    lastOpenError.kind = kind;
    lastOpenError.text = kind == KOpenError::Settings ? kNotInitialized : kNotInstalled;
    lastOpenError.device = DevicePath;
    lastOpenError.reason = reason;
    lastOpenError.remedy = remedy;
    ReportFailure();
    return false;
}

void KNetworkComm::MarkGone() {
    port.gone.store(true);
    NoteGone();
}

bool KNetworkComm::Open(int32_t /*mode*/) {
    if (isOpen) return true;
    lastOpenError = KOpenError{};
    std::string error;
    if (!ParseNetworkAddress(DevicePath, address, error))
        return Fail(KOpenError::NotPresent, error, "name it as rfc2217://HOST:PORT or socket://HOST:PORT");
    if (!Connect(address)) return false;
    isOpen = true;
    openedDevice = DevicePath;
    everConnected = true;
    port.gone.store(false);
    goneReported.store(false);
    return true;
}

bool KNetworkComm::Connect(const KNetworkAddress& where) {
    std::string error;
    {
        std::lock_guard<std::mutex> lock(receiving);
        received.clear();
        codec = telnet::Codec{};
    }
    if (!socket.Connect(where.host, where.port, kConnectMs, error)) {
        // A server this link was talking to and cannot reach now is a device gone, waited for
        // like an unplugged adapter, not a new failure to report every second.
        if (everConnected && DevicePath == openedDevice) {
            MarkGone();
            return false;
        }
        return Fail(KOpenError::NotPresent, "cannot connect to " + where.host + " port " + where.port + ": " + error,
                    "check that the terminal server runs and that host and port are right (`velinor doctor " +
                        DevicePath + "`)");
    }
    if (where.scheme == KNetworkAddress::Socket) return true;

    const int64_t asked = NowMs();
    if (!SendCommand(telnet::Codec::Greeting())) return Fail(KOpenError::NotPresent, "the server closed the connection", "");
    const int64_t deadline = asked + kAnswerMs;
    for (;;) {
        Pump();
        std::lock_guard<std::mutex> lock(receiving);
        if (codec.ComPortAccepted() || codec.ComPortRefused() || socket.Broken() || NowMs() >= deadline) break;
        socket.WaitReadable(20);
    }
    roundTripMs = NowMs() - asked;
    bool accepted = false;
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(receiving);
        accepted = codec.ComPortAccepted();
        refused = codec.ComPortRefused();
    }
    if (!accepted) {
        socket.Close();
        return Fail(KOpenError::Settings,
                    refused ? where.host + " port " + where.port + " refused the COM port option of RFC 2217"
                            : where.host + " port " + where.port + " did not take up the COM port option of RFC 2217",
                    "use socket://" + where.host + ":" + where.port +
                        " if it is a raw TCP port, or set the server's port up for RFC 2217 (ser2net: telnet(rfc2217))");
    }
    if (!SetLine(BaudRate)) {
        socket.Close();
        return false;
    }
    return true;
}

bool KNetworkComm::SetLine(int32_t baud) {
    std::vector<uint8_t> request;
    auto add = [&request](const std::vector<uint8_t>& bytes) { request.insert(request.end(), bytes.begin(), bytes.end()); };
    add(telnet::Codec::ComPortCommandBytes(telnet::kSetDataSize, {static_cast<uint8_t>(WordLength)}));
    add(telnet::Codec::ComPortCommandBytes(telnet::kSetParity, {ParityCode(Parity)}));
    add(telnet::Codec::ComPortCommandBytes(telnet::kSetStopSize, {static_cast<uint8_t>(StopBits == 2 ? 2 : 1)}));
    add(telnet::Codec::ComPortCommandBytes(telnet::kSetControl, {static_cast<uint8_t>(RTSCTSFlag ? 3 : 1)}));
    // DTR and RTS on, as a local open leaves them; servers that do not answer these still work.
    add(telnet::Codec::ComPortCommandBytes(telnet::kSetControl, {8}));
    add(telnet::Codec::ComPortCommandBytes(telnet::kSetControl, {11}));
    add(telnet::Codec::SetBaudRate(static_cast<uint32_t>(baud)));
    if (!SendCommand(request)) {
        MarkGone();
        return Fail(KOpenError::NotPresent, "the server closed the connection", "");
    }
    return AwaitRateAnswer(static_cast<uint32_t>(baud));
}

bool KNetworkComm::AwaitRateAnswer(uint32_t baud) {
    const int64_t deadline = NowMs() + kAnswerMs;
    for (;;) {
        Pump();
        std::vector<telnet::ComPortAnswer> answers;
        bool broken = false;
        {
            std::lock_guard<std::mutex> lock(receiving);
            answers = codec.TakeAnswers();
            broken = socket.Broken();
        }
        for (const telnet::ComPortAnswer& answer : answers) {
            if (answer.command != telnet::kSetBaudRate || answer.value.size() != 4) continue;
            const uint32_t set = static_cast<uint32_t>(answer.value[0]) << 24 | answer.value[1] << 16 |
                                 answer.value[2] << 8 | answer.value[3];
            if (set == baud) {
                // Nothing from the old rate reaches the reader, as after a local reopen.
                std::lock_guard<std::mutex> lock(receiving);
                received.clear();
                return true;
            }
            return Fail(KOpenError::Settings,
                        address.host + " port " + address.port + " refused " + std::to_string(baud) +
                            " baud (its port is at " + std::to_string(set) + ")",
                        "check the rates the server's port allows (ser2net: its serial port options)");
        }
        if (broken) {
            MarkGone();
            return false;
        }
        const int64_t left = deadline - NowMs();
        if (left <= 0)
            return Fail(KOpenError::Settings,
                        address.host + " port " + address.port + " did not confirm " + std::to_string(baud) +
                            " baud within " + std::to_string(kAnswerMs / 1000) + " s",
                        "check that the server speaks RFC 2217 and that nothing else holds its port");
        socket.WaitReadable(static_cast<int>(std::min<int64_t>(left, 20)));
    }
}

bool KNetworkComm::SendCommand(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(sending);
    return socket.SendAll(bytes.data(), bytes.size(), kSendMs);
}

void KNetworkComm::Pump() {
    uint8_t chunk[4096];
    std::vector<uint8_t> data;
    std::vector<uint8_t> reply;
    {
        std::lock_guard<std::mutex> lock(receiving);
        for (;;) {
            const size_t n = socket.Receive(chunk, sizeof chunk);
            if (n == 0) break;
            if (address.scheme == KNetworkAddress::Rfc2217)
                codec.Receive(chunk, n, data, reply);
            else
                data.insert(data.end(), chunk, chunk + n);
        }
        received.insert(received.end(), data.begin(), data.end());
        if (received.size() > kMostKept)
            received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(received.size() - kMostKept));
    }
    if (!reply.empty()) SendCommand(reply);
    if (isOpen && socket.Broken()) MarkGone();
}

void KNetworkComm::WaitForWrittenBytesToLeave() {
    // The server may act on a rate change as soon as it reads it, whatever its UART still holds:
    // wait for the written bytes' time on the wire plus one trip to the server.
    const int64_t until = sendingUntilMs + roundTripMs + 20;
    const int64_t wait = until - NowMs();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(wait, 10000)));
}

bool KNetworkComm::Reopen(int32_t baud) {
    if (!isOpen || DeviceGone() || socket.Broken()) {
        Close();
        BaudRate = baud;
        return Open(0);
    }
    lastOpenError = KOpenError{};
    if (address.scheme == KNetworkAddress::Socket) {
        // The server's rate is fixed: the link reads and writes at it whatever is asked here.
        BaudRate = baud;
        return true;
    }
    WaitForWrittenBytesToLeave();
    if (!SendCommand(telnet::Codec::SetBaudRate(static_cast<uint32_t>(baud)))) {
        MarkGone();
        return false;
    }
    if (!AwaitRateAnswer(static_cast<uint32_t>(baud))) {
        if (!DeviceGone()) Close();  // as a refused open leaves a local port
        return false;
    }
    BaudRate = baud;
    return true;
}

bool KNetworkComm::Close() {
    if (!isOpen) return true;
    WaitForWrittenBytesToLeave();
    socket.Close();
    {
        std::lock_guard<std::mutex> lock(receiving);
        received.clear();
    }
    isOpen = false;
    NoteGone();
    return true;
}

bool KNetworkComm::Write(const void* data, uint32_t length) {
    if (!isOpen || length == 0 || DeviceGone()) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> wire;
    if (address.scheme == KNetworkAddress::Rfc2217)
        telnet::Codec::Escape(bytes, length, wire);
    else
        wire.assign(bytes, bytes + length);
    if (!SendCommand(wire)) {
        if (socket.Broken()) MarkGone();
        return false;
    }
    const int64_t start = std::max(NowMs(), sendingUntilMs.load());
    sendingUntilMs = start + KOutputDrain::WireMs(length, BaudRate, 1 + WordLength + (Parity == 'N' ? 0 : 1) + StopBits);
    return true;
}

bool KNetworkComm::ReadExact(void* buffer, uint32_t length) {
    if (!isOpen || length == 0) return false;
    Pump();
    std::lock_guard<std::mutex> lock(receiving);
    if (received.size() < length) return false;
    std::copy_n(received.begin(), length, static_cast<uint8_t*>(buffer));
    received.erase(received.begin(), received.begin() + length);
    return true;
}

int32_t KNetworkComm::ReadAvailable(void* buffer, uint32_t length) {
    if (!isOpen || length == 0) return 0;
    Pump();
    std::lock_guard<std::mutex> lock(receiving);
    const size_t n = std::min<size_t>(length, received.size());
    std::copy_n(received.begin(), n, static_cast<uint8_t*>(buffer));
    received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int32_t>(n);
}

void KNetworkComm::GetPortName(char* text, uint32_t size) {
    if (size == 0) return;
    std::snprintf(text, size, "%s", DevicePath.c_str());
}

std::unique_ptr<KSerialComm> CreatePortLink(const std::string& device) {
    if (IsNetworkPortName(device)) return std::make_unique<KNetworkComm>();
    return std::make_unique<KSerialComm>();
}

std::vector<KPortFinding> CheckNetworkPort(const std::string& url, int32_t baud) {
    std::vector<KPortFinding> findings;
    KNetworkAddress address;
    std::string error;
    if (!ParseNetworkAddress(url, address, error)) {
        findings.push_back({KPortFinding::Problem, "device", error, "name it as rfc2217://HOST:PORT or socket://HOST:PORT"});
        return findings;
    }
    KNetworkComm link;
    KOpenError failure;
    link.SetOpenFailureHook([&failure](const KOpenError& e) { failure = e; });
    link.DevicePath = url;
    link.BaudRate = baud;
    const std::string server = address.host + " port " + address.port;
    if (!link.Open(0)) {
        findings.push_back({KPortFinding::Problem, "network", failure.reason, failure.remedy});
        return findings;
    }
    link.Close();
    if (address.scheme == KNetworkAddress::Socket) {
        findings.push_back({KPortFinding::Ok, "network", server + " answers (raw TCP)", ""});
        findings.push_back({KPortFinding::Note, "rate",
                            "a raw TCP port carries bytes at whatever rate the server's port is set to: listening "
                            "and asking work there, but no rate can be set through it",
                            "to set rates, have the server speak RFC 2217 and use rfc2217://" + address.host + ":" +
                                address.port});
    } else {
        findings.push_back({KPortFinding::Ok, "network",
                            server + " answers, takes the COM port option of RFC 2217 and confirmed " +
                                std::to_string(baud) + " baud",
                            ""});
    }
    findings.push_back({KPortFinding::Note, "security",
                        "RFC 2217 and raw TCP ports have no authentication: whoever reaches " + server +
                            " can change the receiver's rate and read its data",
                        "keep the server on a trusted network, or reach it through an SSH tunnel"});
    return findings;
}
