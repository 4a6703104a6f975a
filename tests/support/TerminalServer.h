#pragma once
#ifndef _WIN32
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "support/ChildProgram.h"
#include "support/TempDir.h"

// A real terminal server in front of a pseudo-terminal, on a loopback TCP port of its own, for
// the end-to-end tests of network ports: ser2net (an RFC 2217 accepter, or a raw TCP one) or
// python3-serial's RFC 2217 port manager. Stopped when the object goes.
class TerminalServer {
public:
    enum Kind { Ser2netRfc2217, Ser2netRaw, PyserialRfc2217 };

    // The program the kind needs, or empty when it is not installed.
    static std::string Program(Kind kind);
    static const char* Name(Kind kind);

    TerminalServer(Kind kind, std::string device, uint32_t baud);
    // Starts it (again, on the same TCP port) and waits until it accepts connections.
    bool Start(std::string& error);
    void Stop();
    std::string Url() const;
    uint16_t Port() const { return port; }

private:
    Kind kind;
    std::string device;
    uint32_t baud;
    uint16_t port;
    TempDir folder{"velinor-server"};
    std::unique_ptr<ChildProgram> child;
};

// A TCP relay on the loopback interface that holds every byte for `delayMs` each way, as a
// distant terminal server's network would; one connection at a time.
class DelayingRelay {
public:
    DelayingRelay(uint16_t targetPort, int delayMs);
    ~DelayingRelay();
    DelayingRelay(const DelayingRelay&) = delete;
    DelayingRelay& operator=(const DelayingRelay&) = delete;
    uint16_t Port() const { return port; }

private:
    void Run();
    uint16_t targetPort;
    int delayMs;
    int listener = -1;
    uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::thread worker;
};

// A loopback TCP port that is free now (bound and let go).
uint16_t FreeLoopbackPort();
#endif
