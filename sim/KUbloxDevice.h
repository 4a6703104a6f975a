#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/KSimReceiverDevice.h"
#include "sim/KSimUbxParser.h"

// A simulated u-blox receiver of generation 8, 9, 10 or 20, cabled to its UART1 or UART2 (later
// generations have UART1 only), speaking UBX. From power-up it sends NAV-PVT and an NMEA GGA
// sentence every output period, and it never stops: u-blox answers polls amid its output.
// It understands only UBX that its UART received intact at its own rate, answering after the
// reply delay:
//   MON-VER poll (0A 04, empty)        -> MON-VER with PROTVER 18.00, 27.31, 34.10 or 50.00
//   NAV-TIMEGPS poll (01 20, empty)    -> NAV-TIMEGPS, time of week, week and leap seconds valid
//   CFG-PRT poll, empty or a UART's id -> (8, 9) that port's settings: 8N1, its rate, UBX+NMEA+RTCM
//                                         in, UBX+NMEA out; (10, 20) ACK-NAK
//   CFG-PRT set of a UART (8, 9), 8N1, a rate of Rates()
//                                      -> ACK at the old rate, then its port switches once the ACK
//                                         has left; the other UART's rate is only stored
//   CFG-VALSET (9 and later) of CFG-UART1/2-BAUDRATE, RAM layer among the layers
//                                      -> the same; a UART it lacks or another rate -> ACK-NAK;
//                                         without the RAM layer the rate is only saved
//   CFG-CFG                            -> ACK, the port settings saved
//   another CFG message -> ACK-NAK; anything else -> nothing.
// Refusing rate changes, it answers them ACK-NAK; refusing saves, it answers CFG-CFG and a VALSET
// without the RAM layer ACK-NAK. With wrong acknowledgements it acknowledges
// every CFG message as another one and does nothing. Its time is the process clock's.
class KUbloxDevice : public KSimReceiverDevice {
public:
    KUbloxDevice(uint32_t baud, int32_t generation, int32_t uart, const KSimDeviceOptions& options = {});

    // The receiver of catalogue type 15. The receiver port names the UART ("1", "2") or the
    // generation and the UART ("8:2", "10:1"); generation 9 on UART1 when empty. nullptr for
    // other types or other names.
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);
    static std::span<const uint32_t> Rates(int32_t typeId);

    int32_t Generation() const { return generation; }
    int32_t Uart() const { return uart; }
    // The rate of the UART the cable is not on.
    uint32_t OtherUartBaud() const { return otherUartBaud; }
    uint32_t SavedBaud() const override { return savedBaud; }

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& frame) override;
    void SendOutput(int64_t timeNs) override;

    void Port(int64_t timeNs, const Bytes& payload);
    void Valset(int64_t timeNs, const Bytes& payload);
    // Sets UART `which` to `rate`, acknowledging message `id`; false when it cannot.
    bool SetRate(int64_t timeNs, int32_t which, uint32_t rate, uint8_t id);
    void Acknowledge(int64_t timeNs, uint8_t id, bool ok);
    Bytes PortSettings(int32_t which) const;
    Bytes Version() const;
    Bytes TimeGps() const;
    Bytes Pvt(int64_t timeNs) const;

    const int32_t generation;
    const int32_t uart;
    uint32_t otherUartBaud = 9600;
    uint32_t savedBaud = 0;
    KSimUbxParser parser;
};
