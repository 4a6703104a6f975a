#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/KSimReceiverDevice.h"

// A simulated Ashtech receiver (Z, AC12 or G12), cabled to one of its ports ('A' to 'D'; 'E'
// for tests of the host's checks). Its reader takes command lines from "$" to CR LF (a new "$"
// starts over; lines longer than kMaxRequest are dropped); an optional "*hh" NMEA checksum must
// be right. After the reply delay it answers:
//   $PASHQ,PRT                -> $PASHR,PRT,<its port>,<its speed code>*hh
//   $PASHS,OUT,p              -> ACK; all periodic output off when p is its port
//   $PASHS,RAW,ALL,p,OFF      -> ACK; likewise
//   $PASHS,NME,ALL,p,OFF      -> ACK; likewise
//   $PASHS,NME,m,p,OFF        -> ACK; sentence m (GGA, POS or XDR) off when p is its port
//   $PASHS,RAW,PBN,p,OFF      -> ACK; the PBN response off when p is its port
//   $PASHS,SPD,p,c            -> ACK, and when p is its port it switches to the rate of speed
//                                code c (0..9: 300, 600, ..., 115200) once the ACK has left;
//                                NAK instead when it refuses rate changes
//   any other $PASHS setting, or a $PASHQ/$PASHS line with a wrong checksum -> $PASHR,NAK*30
// A port letter p is 'A' to 'D' or its own; settings naming another port are acknowledged and
// change nothing here. Other lines (queries it does not know, NMEA) get no answer. Output
// turned off stays off until power-up. Periodic output, each output period: $GPGGA,
// $PASHR,POS, $GPXDR and the binary $PASHR,PBN response (GPS time of week in milliseconds,
// big-endian, and its word-sum check).
class KAshtechDevice : public KSimReceiverDevice {
public:
    static constexpr size_t kMaxRequest = 96;

    KAshtechDevice(uint32_t baud, char port, const KSimDeviceOptions& options = {});

    // The model of catalogue type 1, 2 or 3 on `options.receiverPort` ("A" when empty); nullptr
    // for another type, a rate it cannot run at, or a port it does not have.
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud,
                                              const KSimDeviceOptions& options);
    static std::span<const uint32_t> Rates(int32_t typeId);

    // The rate of a speed code (0 when none), and the code of a rate (-1 when none).
    static uint32_t BaudOfCode(int32_t code);
    static int32_t CodeOfBaud(uint32_t baud);
    // "$" + body + "*" + the NMEA checksum of body in two upper-case hex digits + CR LF.
    static Bytes Sentence(std::string_view body);

private:
    enum Output : unsigned { kGga = 1, kPos = 2, kXdr = 4, kPbn = 8, kAll = 15 };

    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& request) override;
    void SendOutput(int64_t timeNs) override;

    // Applies a setting; false when it is refused. `switchTo` gets the rate to switch to.
    bool Apply(const std::vector<std::string>& fields, uint32_t& switchTo);
    bool PortField(const std::string& field, bool& own) const;
    void TurnOff(unsigned outputs);
    Bytes PbnResponse(int64_t timeNs) const;

    char port;
    Bytes line;
    uint32_t portQueries = 0;
    unsigned outputs = kAll;
};
