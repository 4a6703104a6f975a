#include "support/TerminalServer.h"
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool Accepts(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return ok;
}

} // namespace

uint16_t FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(s);
    return ntohs(address.sin_port);
}

std::string TerminalServer::Program(Kind kind) {
    // Debian's own interpreter: python3-serial is installed for it, not for others on the path.
    const std::string program = kind == PyserialRfc2217 ? "/usr/bin/python3" : "/usr/sbin/ser2net";
    std::error_code ec;
    if (!std::filesystem::exists(program, ec)) return {};
    if (kind == PyserialRfc2217 && !std::filesystem::exists("/usr/lib/python3/dist-packages/serial/rfc2217.py", ec))
        return {};
    return program;
}

const char* TerminalServer::Name(Kind kind) {
    switch (kind) {
    case Ser2netRfc2217: return "ser2net";
    case Ser2netRaw: return "ser2net raw";
    default: return "pyserial";
    }
}

TerminalServer::TerminalServer(Kind k, std::string d, uint32_t b)
    : kind(k), device(std::move(d)), baud(b), port(FreeLoopbackPort()) {}

std::string TerminalServer::Url() const {
    return std::string(kind == Ser2netRaw ? "socket" : "rfc2217") + "://127.0.0.1:" + std::to_string(port);
}

bool TerminalServer::Start(std::string& error) {
    Stop();
    const std::string program = Program(kind);
    if (program.empty()) {
        error = std::string(Name(kind)) + " is not installed";
        return false;
    }
    const std::string where = std::to_string(port);
    std::vector<std::string> arguments;
    if (kind == PyserialRfc2217) {
        arguments = {VELINOR_TEST_SERVERS "/pyserial_rfc2217.py", where, device};
    } else {
        // A pseudo-terminal has no modem lines: `local` keeps ser2net from waiting on them.
        const std::string accepter = kind == Ser2netRaw ? "tcp" : "telnet(rfc2217),tcp";
        arguments = {"-n", "-u", "-Y", "connection: &gnss", "-Y", "  accepter: " + accepter + ",127.0.0.1," + where,
                     "-Y", "  connector: serialdev," + device + "," + std::to_string(baud) + "n81,local",
                     "-Y", "  options:", "-Y", "    kickolduser: true"};
    }
    child = std::make_unique<ChildProgram>(program, arguments, folder.Path());
    // The port manager serves one connection at a time: a probe would hold it up. It says when
    // it listens.
    if (kind == PyserialRfc2217) {
        if (child->FirstLine(30000) == "listening") return true;
        error = std::string(Name(kind)) + " did not start: " + child->Output();
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!Accepts(port)) {
        if (!child->Running() || child->Wait(0) || Clock::now() >= deadline) {
            error = std::string(Name(kind)) + " did not start: " + child->Output();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void TerminalServer::Stop() { child.reset(); }

DelayingRelay::DelayingRelay(uint16_t target, int delay) : targetPort(target), delayMs(delay) {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 2);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    worker = std::thread([this] { Run(); });
}

DelayingRelay::~DelayingRelay() {
    stop = true;
    worker.join();
    ::close(listener);
}

void DelayingRelay::Run() {
    struct Held {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };
    // Each way: where it reads, where it writes, what it holds back.
    struct Way {
        int from = -1;
        int to = -1;
        std::deque<Held> held;
    };
    int client = -1;
    int server = -1;
    Way ways[2];
    auto closeBoth = [&] {
        if (client >= 0) ::close(client);
        if (server >= 0) ::close(server);
        client = server = -1;
        ways[0].held.clear();
        ways[1].held.clear();
    };
    while (!stop) {
        if (client < 0) {
            pollfd wait{listener, POLLIN, 0};
            if (::poll(&wait, 1, 20) <= 0) continue;
            client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = Loopback(targetPort);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                closeBoth();
                continue;
            }
            int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ways[0].from = client;
            ways[0].to = server;
            ways[1].from = server;
            ways[1].to = client;
        }
        const auto now = Clock::now();
        bool ended = false;
        for (Way& way : ways) {
            while (!way.held.empty() && way.held.front().due <= now) {
                const auto& bytes = way.held.front().bytes;
                if (::send(way.to, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) ended = true;
                way.held.pop_front();
            }
        }
        pollfd watch[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        ::poll(watch, 2, 2);
        for (int i = 0; i < 2 && !ended; ++i) {
            if (!(watch[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            uint8_t buffer[4096];
            const ssize_t n = ::recv(ways[i].from, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ended = true;
                break;
            }
            ways[i].held.push_back({Clock::now() + std::chrono::milliseconds(delayMs), {buffer, buffer + n}});
        }
        if (ended) closeBoth();
    }
    closeBoth();
}
#endif
