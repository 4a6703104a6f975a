#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/KNetSocket.h"
#include "comm/KPortCheckup.h"
#include "comm/KSerialComm.h"
#include "comm/KTelnetCodec.h"

// A port behind a terminal server, named as a URL:
//   rfc2217://HOST:PORT  Telnet with the COM port option: the rate is set at the server's UART
//                        and each change is confirmed by the server before it counts;
//   socket://HOST:PORT   raw TCP: bytes only, at whatever rate the server's port is set to.
// A connection that drops is a device gone (as an unplugged adapter is); a later open connects
// again. There is no lock file: the server decides who may connect.
struct KNetworkAddress {
    enum Scheme { Rfc2217, Socket };
    Scheme scheme = Rfc2217;
    std::string host;  // without brackets for IPv6
    std::string port;  // decimal, 1 to 65535
};

// True for text that names a network port (an rfc2217:// or socket:// URL, well formed or not).
bool IsNetworkPortName(const std::string& text);
// True for a socket:// URL: a port whose rate the server fixes and no command can change.
bool IsFixedRatePort(const std::string& device);
// Reads "rfc2217://host:port" or "socket://host:port" ([v6 address] allowed). False, with what is
// wrong in `error`, for anything else.
bool ParseNetworkAddress(const std::string& text, KNetworkAddress& address, std::string& error);

class KNetworkComm : public KSerialComm {
public:
    // At most this long to reach the server and have the line set: the user hears within 10 s.
    static constexpr int kConnectMs = 7000;
    // How long a rate change waits for the server's confirmation.
    static constexpr int kAnswerMs = 3000;

    KNetworkComm() = default;
    ~KNetworkComm() override;

    bool Open(int32_t mode) override;
    bool Close() override;
    bool Reopen(int32_t baud) override;
    bool Write(const void* data, uint32_t length) override;
    bool ReadExact(void* buffer, uint32_t length) override;
    int32_t ReadAvailable(void* buffer, uint32_t length) override;
    void GetPortName(char* text, uint32_t size) override;

private:
    bool Connect(const KNetworkAddress& address);
    bool SetLine(int32_t baud);
    bool SendCommand(const std::vector<uint8_t>& bytes);
    // Moves what has arrived through the Telnet layer into `received`.
    void Pump();
    // Waits until the rate change is answered; false (with lastOpenError) when refused or unanswered.
    bool AwaitRateAnswer(uint32_t baud);
    // Waits until what was written has left the server's UART at the current rate, as far as
    // can be known from here, so that a rate change does not cut a command short.
    void WaitForWrittenBytesToLeave();
    bool Fail(KOpenError::Kind kind, const std::string& reason, const std::string& remedy);
    void MarkGone();

    KNetworkAddress address;
    KNetSocket socket;
    // A reader thread reads while the session writes: sends are whole under `sending`, and the
    // Telnet state and the bytes received are kept under `receiving`.
    std::mutex sending;
    std::mutex receiving;
    telnet::Codec codec;
    std::deque<uint8_t> received;
    bool everConnected = false;
    std::atomic<int64_t> sendingUntilMs{0};  // steady-clock ms when the last written byte has left the UART
    int64_t roundTripMs = 0;                 // how long the server took to answer the option requests
};

// The link for a port as the user names it: a network link for a URL, else a serial one.
std::unique_ptr<KSerialComm> CreatePortLink(const std::string& device);

// What `velinor doctor` can tell of a network port without listening: that the URL reads, that
// the server answers, and (rfc2217://) that it takes the COM port option and confirms a rate.
std::vector<KPortFinding> CheckNetworkPort(const std::string& url, int32_t baud = 9600);
