#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/KSimNavComParser.h"
#include "sim/KSimReceiverDevice.h"

// A simulated NavCom receiver speaking its binary packets (see KSimNavComParser). After power-up
// it sends a position message (0xB0) every output period until it is asked for message 0. It
// understands only packets that its UART received correctly at its own rate, and answers after
// the reply delay:
//   0x20 output request, payload p 00 id 02 00 00:
//       id 0     -> 06 (20 00); periodic output stops
//       id 0x11  -> 06 (20 00), then 0x11: its port settings (04 c 00 c|1 00 00, c its speed code)
//       id 0x84  -> 06 (20 00), then 0x84: GPS week (16 bits), seconds of week (double), GPS-UTC
//       id 0xB0  -> 06 (20 00), then one 0xB0
//       other    -> 15 (20 01): a message it does not have
//   0x11 port settings, payload p c 00 c|1 00 00 (speed code c, see BaudOfCode):
//       -> 06 (11 00); switches 100 ms later, once that acknowledgement has left the wire
//       -> 15 (11 02) for a speed code it does not know; 15 (11 03) when refusing rate changes
//   any other ID -> 15 (id 01)
// Numbers are little-endian. Wall time comes from the process clock (KClock), the milliseconds
// from the world's time line.
class KNavComDevice : public KSimReceiverDevice {
public:
    // Error codes of its negative acknowledgements.
    static constexpr uint8_t kErrorUnknownMessage = 1;
    static constexpr uint8_t kErrorBadSetting = 2;
    static constexpr uint8_t kErrorRefused = 3;
    // Time between the acknowledgement of new port settings going out and the port switching.
    static constexpr int32_t kSwitchDelayMs = 100;

    KNavComDevice(uint32_t baud, const KSimDeviceOptions& options = {});

    // The receiver of catalogue type 8; nullptr for other types and for a receiver port named
    // (the cable always sits on its one port).
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);

    // The rate of a speed code (0 when unknown) and the code of a rate (-1 when none).
    static uint32_t BaudOfCode(int32_t code);
    static int32_t CodeOfBaud(uint32_t baud);

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& packet) override;
    void SendOutput(int64_t timeNs) override;

    void HandleOutputRequest(int64_t timeNs, const Bytes& payload);
    void HandlePortSettings(int64_t timeNs, const Bytes& payload);
    void Answer(int64_t timeNs, uint8_t id, Bytes payload);
    void Acknowledge(int64_t timeNs, uint8_t id);
    void Refuse(int64_t timeNs, uint8_t id, uint8_t error);
    Bytes PortSettings() const;
    Bytes TimeMessage(int64_t timeNs) const;
    Bytes PositionMessage(int64_t timeNs) const;

    KSimNavComParser parser;
    uint32_t outputCount = 0;
};
