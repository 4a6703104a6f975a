#include "support/FakeComPortServer.h"
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {
constexpr uint8_t kIac = 255, kSb = 250, kSe = 240, kWill = 251, kDo = 253, kDont = 254, kComPort = 44;
}

FakeComPortServer::FakeComPortServer(Behaviour b) : behaviour(b) {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 4) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("cannot listen on the loopback interface");
    port = ntohs(address.sin_port);
    worker = std::thread([this] { Serve(); });
}

FakeComPortServer::~FakeComPortServer() {
    stop = true;
    worker.join();
    if (connection >= 0) ::close(connection);
    ::close(listener);
}

std::string FakeComPortServer::Url() const {
    return std::string(behaviour.raw ? "socket" : "rfc2217") + "://127.0.0.1:" + std::to_string(port);
}

void FakeComPortServer::Serve() {
    while (!stop) {
        if (dropAsked.exchange(false) && connection >= 0) {
            ::close(connection.exchange(-1));
        }
        pollfd watch[2] = {{listener, POLLIN, 0}, {connection.load(), POLLIN, 0}};
        if (::poll(watch, connection >= 0 ? 2 : 1, 10) <= 0) continue;
        if (watch[0].revents & POLLIN) {
            const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                if (connection >= 0) ::close(connection.exchange(-1));
                std::lock_guard<std::mutex> lock(state);
                parse = Parse::Data;
                connection = accepted;
                ++connections;
            }
        }
        if (connection >= 0 && (watch[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            uint8_t buffer[4096];
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0)
                ::close(connection.exchange(-1));
            else
                OnBytes(buffer, static_cast<size_t>(n));
        }
    }
}

void FakeComPortServer::OnBytes(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(state);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        if (behaviour.raw) {
            line.push_back(b);
            lastLineByte = std::chrono::steady_clock::now();
            continue;
        }
        switch (parse) {
        case Parse::Data:
            if (b == kIac) {
                parse = Parse::Iac;
            } else {
                line.push_back(b);
                lastLineByte = std::chrono::steady_clock::now();
            }
            break;
        case Parse::Iac:
            if (b == kIac) {
                line.push_back(b);
                lastLineByte = std::chrono::steady_clock::now();
                parse = Parse::Data;
            } else if (b == kSb) {
                sub.clear();
                parse = Parse::Sub;
            } else if (b >= kWill) {
                verb = b;
                parse = Parse::Option;
            } else {
                parse = Parse::Data;
            }
            break;
        case Parse::Option:
            if (verb == kWill && b == kComPort && behaviour.comPort != Behaviour::Ignore)
                SendRaw({kIac, behaviour.comPort == Behaviour::Accept ? kDo : kDont, kComPort});
            parse = Parse::Data;
            break;
        case Parse::Sub:
            if (b == kIac)
                parse = Parse::SubIac;
            else
                sub.push_back(b);
            break;
        case Parse::SubIac:
            if (b == kIac) {
                sub.push_back(b);
                parse = Parse::Sub;
            } else {
                if (sub.size() >= 2 && sub[0] == kComPort) OnCommand(sub);
                parse = Parse::Data;
            }
            break;
        }
    }
}

void FakeComPortServer::OnCommand(const Bytes& request) {
    const uint8_t command = request[1];
    Bytes value(request.begin() + 2, request.end());
    commands.push_back({command, value, std::chrono::steady_clock::now()});
    // Modem-control requests go unanswered, as some servers leave them.
    if (command == 5) return;
    if (command == 1) {
        if (behaviour.answerRate == 0) return;
        if (behaviour.answerRate > 0) {
            const auto rate = static_cast<uint32_t>(behaviour.answerRate);
            value = {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16), static_cast<uint8_t>(rate >> 8),
                     static_cast<uint8_t>(rate)};
        }
    }
    Bytes answer = {kIac, kSb, kComPort, static_cast<uint8_t>(command + 100)};
    for (uint8_t v : value) {
        answer.push_back(v);
        if (v == kIac) answer.push_back(kIac);
    }
    answer.insert(answer.end(), {kIac, kSe});
    SendRaw(answer);
}

void FakeComPortServer::SendRaw(const Bytes& bytes) {
    const int fd = connection.load();
    if (fd >= 0) (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void FakeComPortServer::Send(const Bytes& bytes) {
    Bytes wire;
    for (uint8_t b : bytes) {
        wire.push_back(b);
        if (b == kIac && !behaviour.raw) wire.push_back(kIac);
    }
    std::lock_guard<std::mutex> lock(state);
    SendRaw(wire);
}

void FakeComPortServer::Drop() {
    dropAsked = true;
    WaitFor([this] { return connection.load() < 0; });
}

Bytes FakeComPortServer::LineBytes() const {
    std::lock_guard<std::mutex> lock(state);
    return line;
}

std::chrono::steady_clock::time_point FakeComPortServer::LastLineByteAt() const {
    std::lock_guard<std::mutex> lock(state);
    return lastLineByte;
}

std::vector<FakeComPortServer::Command> FakeComPortServer::Commands() const {
    std::lock_guard<std::mutex> lock(state);
    return commands;
}

std::vector<uint32_t> FakeComPortServer::RatesAsked() const {
    std::vector<uint32_t> rates;
    for (const Command& c : Commands())
        if (c.command == 1 && c.value.size() == 4)
            rates.push_back(static_cast<uint32_t>(c.value[0]) << 24 | c.value[1] << 16 | c.value[2] << 8 | c.value[3]);
    return rates;
}

bool FakeComPortServer::WaitFor(const std::function<bool()>& condition, int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
#endif
