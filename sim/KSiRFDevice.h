#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/KSimReceiverDevice.h"
#include "sim/KSimSiRFParser.h"

// A simulated SiRFStar III in SiRF binary mode (see KSimSiRFParser). From power-up it sends, each
// output period, the clock status (0x07), the measured navigation data (0x02) and one navigation
// library measurement (0x1C, channel by channel), each at its own rate in periods (1 to begin
// with) until that is set to 0. What does not fit into a quarter of an output period at the
// port's rate is left out, as a real receiver's full output buffer drops it. It understands only packets its
// UART received correctly at its own rate, and answers after the reply delay:
//   84 cc (poll software version)       -> 0B 84, then 06 and the version text
//   90 cc (poll clock status)           -> 0B 90, then 07
//   A6 m id r 00 00 00 00 (message rate) -> 0B A6. Mode m 0: message id every r periods (0 off);
//                                          1: message id once now; 2: every message every r
//                                          periods. Other modes, r above 30 -> 0C A6
//   86 rrrr 08 01 00 00 (binary serial    -> nothing, as a real one: switches to rate rrrr
//      port: rate, 8 data bits, 1 stop        (big-endian) once what is on the wire has left.
//      bit, no parity)                        Other settings, a rate it cannot run at, or any
//                                             when refusing rate changes -> 0C 86
//   any other message, or one of the above of the wrong length -> 0C (negative acknowledgement)
// Acknowledgements carry the ID acknowledged; a receiver with wrong acknowledgements names the ID
// next to it instead (0x85 for 0x84). Once every message is off, periodic output has ended until
// power-up. The clock is the process clock's (KClock) whole seconds and the world's milliseconds.
class KSiRFDevice : public KSimReceiverDevice {
public:
    static constexpr uint8_t kIdMeasuredNavigation = 0x02;
    static constexpr uint8_t kIdVersion = 0x06;
    static constexpr uint8_t kIdClockStatus = 0x07;
    static constexpr uint8_t kIdAck = 0x0B;
    static constexpr uint8_t kIdNak = 0x0C;
    static constexpr uint8_t kIdNavLibMeasurement = 0x1C;
    static constexpr uint8_t kIdPollVersion = 0x84;
    static constexpr uint8_t kIdSetSerialPort = 0x86;
    static constexpr uint8_t kIdPollClockStatus = 0x90;
    static constexpr uint8_t kIdSetMessageRate = 0xA6;
    // The clock bias its clock status reports, in nanoseconds.
    static constexpr int32_t kClockBiasNs = 96250;
    static constexpr const char* kVersion = "GSW3.5.0_3.5.00.00-SDK-VELINOR-SIM";

    explicit KSiRFDevice(uint32_t baud, const KSimDeviceOptions& options = {});

    // The receiver of catalogue type 10; nullptr for other types and for a receiver port named
    // (the cable always sits on its first port).
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);
    static bool SupportsBaud(uint32_t baud);

    // The periods between two of its message `id` (0: off, or a message it does not send).
    uint8_t RateOf(uint8_t id) const;

private:
    struct Output {
        uint8_t id;
        uint8_t rate;
    };

    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& packet) override;
    void SendOutput(int64_t timeNs) override;

    void SetMessageRate(int64_t timeNs, const Bytes& payload);
    void SetSerialPort(int64_t timeNs, const Bytes& payload);
    void Acknowledge(int64_t timeNs, uint8_t id);
    void Refuse(int64_t timeNs, uint8_t id);
    // Message `id` as sent at `timeNs`; empty for one it does not send.
    Bytes Message(uint8_t id, int64_t timeNs) const;
    Bytes ClockStatus(int64_t timeNs) const;
    Bytes MeasuredNavigation(int64_t timeNs) const;
    Bytes NavLibMeasurement(int64_t timeNs) const;

    KSimSiRFParser parser;
    // In the order they go out within a period.
    std::array<Output, 3> outputs{{{kIdClockStatus, 1}, {kIdMeasuredNavigation, 1}, {kIdNavLibMeasurement, 1}}};
    uint64_t periods = 0;
};
