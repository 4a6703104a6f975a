#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/KSimReceiverDevice.h"

// A simulated Topcon (Javad) receiver speaking GREIS, cabled to one of its serial ports ("a" to
// "d", KSimDeviceOptions::receiverPort, "a" by default). Its reader takes command lines ended by
// CR or LF (empty lines are nothing; lines longer than kMaxCommand are dropped whole). A line
// may begin with an identifier between percent signs; every reply then carries it as "%id%" at
// the front of its body. After the reply delay it answers:
//   %id%                                  -> RE "%id%" (the ping; when it misses first tries,
//                                            only every second one is answered)
//   dm  /  dm,/cur/term  /  dm,/dev/ser/p -> all periodic output off when p is its own port
//                                            (another port's output is not modelled); RE with
//                                            an identifier, nothing without
//   set,/par/cur/term/rate,N              -> switches to N once its reply (if any) has left;
//   set,/par/dev/ser/p/rate,N                a rate it cannot run at, or any when it refuses
//                                            rate changes -> ER, and it keeps its rate
//   anything else (or a "%" never closed) -> ER
// With wrong acknowledgements it still obeys, but answers identified commands with ER instead
// of RE. Replies end in CR LF. Periodic output, each output period, every message followed by
// LF: ~~ (receiver time), GT (GPS time), rM (the time-tagged raw measurement header), PO
// (position) and || (epoch end), each with its GREIS checksum or CRC.
class KTopconDevice : public KSimReceiverDevice {
public:
    static constexpr size_t kMaxCommand = 256;

    KTopconDevice(uint32_t baud, char port, const KSimDeviceOptions& options = {});

    // The receiver of catalogue type 11 on `options.receiverPort`; nullptr for another type or a
    // port it does not have.
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud,
                                              const KSimDeviceOptions& options);

    // A GREIS message: two identifier characters, the body length in three upper-case hex
    // digits, the body.
    static Bytes Message(std::string_view id, const Bytes& body);
    // The message with its body ended by the 8-bit GREIS checksum of everything before it.
    static Bytes WithChecksum(std::string_view id, Bytes body);
    // The 8-bit GREIS checksum: rotate left by 2, XOR each byte; a last rotation.
    static uint8_t Checksum(const uint8_t* data, size_t size);
    // CRC-16 of polynomial 0x1021, initial 0, most significant bit first.
    static uint16_t Crc16(const uint8_t* data, size_t size);
    // The "rM" message: a running epoch count, the GPS week modulo 1024, the time of week in
    // milliseconds and a flags word (all least significant byte first), then the CRC-16 of all
    // before it, low byte first.
    static Bytes RmMessage(uint16_t epoch, uint32_t week, uint32_t towMs);

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& request) override;
    void SendOutput(int64_t timeNs) override;

    // What a command does; false when the receiver rejects it. `switchTo` gets a new rate.
    bool Obey(std::string_view command, uint32_t& switchTo);
    // Whether a port path names a serial port; `own` tells whether it is the one cabled.
    bool SerialPort(std::string_view path, bool& own) const;
    void Answer(int64_t timeNs, bool ok, const std::string& id, bool identified);

    const char port;
    Bytes line;
    bool overlong = false;
    uint32_t pings = 0;
    uint16_t epochs = 0;
};
