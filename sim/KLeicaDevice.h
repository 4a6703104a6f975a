#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/KSimDevice.h"
#include "sim/KSimLB2Parser.h"

// A simulated Leica receiver speaking LB2 (see KSimLB2Parser for the frame). After power-up it
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
//                                                             wire; an unknown code -> FC FA 81 c 00
// Rate codes: 0 150, 1 300, 2 600, 3 1200, 4 2400, 5 4800, 6 9600, 7 19200, 8 38400, 9 57600,
// 10 115200. Wall time comes from the process clock (KClock); the hundredths and tenths of a
// second from the world's time line.
class KLeicaDevice : public KSimDevice {
public:
    enum class Model { CRS1000, GMX900, GPS1200, System500 };

    KLeicaDevice(Model model, uint32_t baud, const KSimDeviceOptions& options = {});

    void Attach(KSimDeviceLink* link, int64_t nowNs) override;
    void OnByte(int64_t timeNs, uint8_t byte) override;
    int64_t NextWakeNs() const override;
    void Wake(int64_t timeNs) override;
    uint32_t Baud() const override { return baud; }
    std::string Name() const override;

    Model GetModel() const { return model; }
    bool UsesRS500Commands() const { return model == Model::GPS1200 || model == Model::System500; }
    bool Streaming() const { return streaming; }
    // Payloads of every intact frame received, oldest first (silent devices record them too).
    const std::vector<std::vector<uint8_t>>& Requests() const { return requests; }
    uint32_t RateSwitches() const { return rateSwitches; }
    uint64_t FramesSent() const { return framesSent; }

    // The rate of a rate code (0 when unknown), and the code of a rate (-1 when none) for the
    // RS500 commands (codes 0..10) or the CRS1000 ones (codes 3..10).
    static uint32_t BaudOfCode(int32_t code, bool rs500);
    static int32_t CodeOfBaud(uint32_t baud, bool rs500);
    // Whether a receiver of this model can run at `baud`.
    static bool SupportsBaud(Model model, uint32_t baud);

private:
    enum class Action { Send, SendTimeOfWeek, SendCalendar, Switch, SwitchWhenFree, Revert };
    struct Event {
        Action action;
        std::vector<uint8_t> payload;  // Send
        uint32_t baud = 0;             // Switch, SwitchWhenFree, Revert
    };

    void Handle(int64_t timeNs, const std::vector<uint8_t>& payload);
    void Reply(int64_t timeNs, std::vector<uint8_t> payload, Action action = Action::Send);
    void SwitchTo(int64_t timeNs, uint32_t newBaud);
    void SendPosition(int64_t timeNs);
    std::vector<uint8_t> TimeOfWeekReply(int64_t timeNs) const;
    std::vector<uint8_t> CalendarReply(int64_t timeNs) const;
    uint8_t ModelCode() const;

    Model model;
    uint32_t baud;
    KSimDeviceOptions options;
    KSimDeviceLink* link = nullptr;
    KSimLB2Parser parser;
    bool streaming;
    int64_t nextOutputNs = KSimDevice::kNever;
    std::multimap<int64_t, Event> events;  // FIFO among equal times
    std::vector<std::vector<uint8_t>> requests;
    uint32_t rateSwitches = 0;
    uint64_t framesSent = 0;
    uint32_t outputCount = 0;
};
