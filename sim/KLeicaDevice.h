#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/KSimLeicaParser.h"
#include "sim/KSimReceiverDevice.h"

// A simulated Leica receiver speaking LB2 (see KSimLeicaParser for the frame). After power-up it
// sends a position-like frame (payload 50 ...) every output period until either stop payload
// (FA 94 00 00, or 82 00 00 FC 00 00 00 00) arrives. It understands only frames that its UART
// received correctly at its own rate, and answers after the reply delay:
//   every model   82 00 00 C8 85 00 00 00 (ping)          -> 85 00 00 00 m 01 00 00 (m: model)
//   CRS1000/GMX   82 00 00 C8 01 00 00 00 (time)          -> 01 t0 t1 t2 w0 w1: GPS time of week
//                                                             in tenths (24-bit LE), GPS week
//   CRS1000/GMX   80 00 c 00 FF FF (rate code c, 3..10)    -> no answer; switches once the line
//                                                             is free after the reply delay
//   GMX900 only   DB 00 (control command 4)                -> FF DB
//   GPS1200/S500  FB FA 07 00 C8 01 00 00 (time)           -> FA 07 h m s hh D M YY (UTC)
//   GPS1200/S500  FA 82 00 c 00 08 01 00 (rate code 0..10) -> FC FA 82 c 00, then switches when
//                                                             that acknowledgement has left the
//                                                             wire; an unknown code (or any,
//                                                             when refusing) -> FC FA 81 c 00
// Rate codes: 0 150, 1 300, 2 600, 3 1200, 4 2400, 5 4800, 6 9600, 7 19200, 8 38400, 9 57600,
// 10 115200. Wall time comes from the process clock (KClock); the hundredths and tenths of a
// second from the world's time line.
class KLeicaDevice : public KSimReceiverDevice {
public:
    enum class Model { CRS1000, GMX900, GPS1200, System500 };

    KLeicaDevice(Model model, uint32_t baud, const KSimDeviceOptions& options = {});

    // The model of a catalogue type (4 CRS1000, 5 GMX900, 6 GPS1200, 7 System 500).
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);
    // The rates a model of that type can run at.
    static std::span<const uint32_t> Rates(int32_t typeId);

    bool UsesRS500Commands() const { return model == Model::GPS1200 || model == Model::System500; }

    // The rate of a rate code (0 when unknown), and the code of a rate (-1 when none) for the
    // RS500 commands (codes 0..10) or the CRS1000 ones (codes 3..10).
    static uint32_t BaudOfCode(int32_t code, bool rs500);
    static int32_t CodeOfBaud(uint32_t baud, bool rs500);
    // Whether a receiver of this model can run at `baud`.
    static bool SupportsBaud(Model model, uint32_t baud);

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& payload) override;
    void SendOutput(int64_t timeNs) override;
    Bytes TimeOfWeekReply(int64_t timeNs) const;
    Bytes CalendarReply(int64_t timeNs) const;
    uint8_t ModelCode() const;

    Model model;
    KSimLeicaParser parser;
    uint32_t outputCount = 0;
};
