#pragma once
#ifndef _WIN32
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/FramerHarness.h"

// A terminal server on the loopback interface for the network link's tests: one connection at a
// time, just enough RFC 2217 to behave well or badly as asked, and a record of what it got.
// How the server behaves.
struct FakeComPortBehaviour {
    enum ComPort { Accept, Refuse, Ignore };
    ComPort comPort = Accept;
    bool raw = false;          // a socket:// server: no Telnet at all
    int64_t answerRate = -1;   // -1 confirms the rate asked, 0 never answers, else confirms this one
};

class FakeComPortServer {
public:
    using Behaviour = FakeComPortBehaviour;
    struct Command {
        uint8_t command;
        Bytes value;
        std::chrono::steady_clock::time_point at;
    };

    explicit FakeComPortServer(Behaviour behaviour = {});
    ~FakeComPortServer();
    FakeComPortServer(const FakeComPortServer&) = delete;
    FakeComPortServer& operator=(const FakeComPortServer&) = delete;

    std::string Url() const;
    // The line bytes received (unescaped), and when the last of them came.
    Bytes LineBytes() const;
    std::chrono::steady_clock::time_point LastLineByteAt() const;
    std::vector<Command> Commands() const;
    // The rates asked for with SET-BAUDRATE, in order.
    std::vector<uint32_t> RatesAsked() const;
    int Connections() const { return connections.load(); }
    // Sends line bytes to the client (escaped unless raw).
    void Send(const Bytes& bytes);
    // Ends the connection in hand, as a cable cut at the server would; it listens on.
    void Drop();
    // Polls `condition` until it holds or `boundMs` passes.
    static bool WaitFor(const std::function<bool()>& condition, int boundMs = 5000);

private:
    void Serve();
    void OnBytes(const uint8_t* data, size_t size);
    void OnCommand(const Bytes& sub);
    void SendRaw(const Bytes& bytes);

    Behaviour behaviour;
    int listener = -1;
    uint16_t port = 0;
    std::atomic<int> connection{-1};
    std::atomic<bool> stop{false};
    std::atomic<bool> dropAsked{false};
    std::atomic<int> connections{0};
    mutable std::mutex state;
    Bytes line;
    std::chrono::steady_clock::time_point lastLineByte{};
    std::vector<Command> commands;
    // The Telnet parse of the client's bytes.
    enum class Parse { Data, Iac, Option, Sub, SubIac } parse = Parse::Data;
    uint8_t verb = 0;
    Bytes sub;
    std::thread worker;
};
#endif
