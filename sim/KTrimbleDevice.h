#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/KSimReceiverDevice.h"
#include "sim/KSimTrimbleParser.h"

// A simulated Trimble receiver (4000 SSi, 47/48/5700, NetR5) on one of its serial ports
// ("1".."4" or "18"; KSimDeviceOptions::receiverPort, "1" by default). From power-up it sends a
// raw-data record (packet 57, see RawDataRecord) every output period and never stops: Trimble
// receivers have no command that silences them. It understands only what its UART received
// correctly at its own rate (see KSimTrimbleParser), and answers after the reply delay:
//   ENQ 05                                  -> ACK 06
//   4A (receiver options request)           -> 4B, whose data byte 6 is the port it came in on
//   48 p r3 r2 r1 r0 08 00 01 00 00         -> ACK 06; when p is its own port, switches to the
//      (port p to rate r, 8 data bits,         rate r (big-endian) once the ACK has left the
//       no parity, 1 stop bit)                 wire. A rate it cannot run at, or any when
//                                              refusing -> NAK 15, and it keeps its rate
//   any other packet                        -> NAK 15
class KTrimbleDevice : public KSimReceiverDevice {
public:
    static constexpr uint8_t kAck = 0x06;
    static constexpr uint8_t kNak = 0x15;

    KTrimbleDevice(uint32_t baud, uint8_t port, const KSimDeviceOptions& options = {});

    // The model of catalogue type 12, 13 or 14, cabled to the port its options name; nullptr for
    // another type or a port that is not a number from 0 to 255.
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud,
                                              const KSimDeviceOptions& options);
    // The port number of an option text ("" is port 1); false when it is not a number 0..255.
    static bool PortOfOption(const std::string& text, uint8_t& port);
    static bool SupportsBaud(uint32_t baud);

    // One raw-data record as the receiver sends it: data byte 0 record type 0, byte 1 page 1 of
    // 1, byte 2 a running reply number, byte 3 flags, bytes 4-11 the receive time in milliseconds
    // of the GPS week and bytes 12-19 the clock offset in milliseconds (big-endian IEEE doubles),
    // byte 20 the count of satellites, then a block per satellite (number, tracking flags,
    // signal to noise, pseudorange: stand-ins, no host reads them).
    static Bytes RawDataRecord(double msOfWeek, uint8_t replyNumber);

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& request) override;
    void SendOutput(int64_t timeNs) override;
    void ChangePort(int64_t timeNs, const Bytes& data);
    Bytes OptionsReply() const;

    const uint8_t port;
    KSimTrimbleParser parser;
    uint32_t outputCount = 0;
};
