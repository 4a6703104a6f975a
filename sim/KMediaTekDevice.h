#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/KSimReceiverDevice.h"

// A simulated MediaTek receiver (a Quectel L80-like module: one serial port). Its reader takes
// lines from "$" to CR LF (a new "$" starts over; lines longer than kMaxRequest are dropped).
// Commands need their "*hh" checksum; a PMTK line with a wrong or missing one is answered
// "$PMTK001,<n>,0" (invalid) when its number can be read, and otherwise ignored. After the
// reply delay it answers:
//   $PMTK605          -> $PMTK705,<firmware release>,... then $PMTK001,605,3
//   $PMTK251,<rate>   -> nothing (as many firmwares), and it switches to the rate once its
//                        earlier output has left; a rate it does not have -> $PMTK001,251,1;
//                        when it refuses rate changes -> $PMTK001,251,2 and it keeps its rate
//   $PMTK314,f0..f18  -> $PMTK001,314,3; each field 0 (off) to 5 sets one sentence's output
//                        (GLL RMC VTG GGA GSA GSV, six unused, then ZDA and MCHN);
//                        "$PMTK314,-1" restores the defaults. Output all off stays off.
//   other $PMTK       -> $PMTK001,<n>,1 (unsupported)
// With wrong acknowledgements it answers the firmware query with an acknowledgement of
// another command only. Other lines get no answer. Periodic output, each output period, of the
// sentences on (by default RMC, VTG, GGA, GSA and GSV), UTC date and time from the process
// clock.
class KMediaTekDevice : public KSimReceiverDevice {
public:
    static constexpr size_t kMaxRequest = 128;
    static constexpr const char* kFirmware = "AXN_5.1.7_3333_19021500,0005,L80-M39,1.0";

    KMediaTekDevice(uint32_t baud, const KSimDeviceOptions& options = {});

    // The receiver of catalogue type 16; nullptr for another type, a rate it does not have or
    // a port name (it has one port).
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);
    static std::span<const uint32_t> Rates(int32_t typeId);

    // The sentences whose output is on, as PMTK314 field numbers (bit n for field n).
    uint32_t OutputMask() const { return outputs; }

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& request) override;
    void SendOutput(int64_t timeNs) override;

    // Answers a PMTK314 with its fields (after the command number).
    void SetOutput(int64_t timeNs, const std::vector<std::string>& fields);
    void Acknowledge(int64_t timeNs, std::string_view command, char flag);

    Bytes line;
    uint32_t outputs;
};
