#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/KSimNovatelParser.h"
#include "sim/KSimReceiverDevice.h"

// A simulated Novatel/Sokkia OEM receiver cabled to its COM1, speaking OEM4 binary commands and
// logs (see KSimNovatelParser). From power-up it sends a RANGECMPB log (ID 140) every output
// period until UNLOGALL. It understands only binary commands that its UART received intact at
// its own rate, and answers each after the reply delay with a response: a message with the
// command's ID and message type 0x80 whose payload is a 32-bit response ID and its text
// (kOk "OK", ...). Its logs and responses are dated with its own GPS week and milliseconds.
//   UNLOGALL (38), port 8 (all), 6 (this port) or 1 (COM1)     -> OK; periodic output stops
//                  another port                                -> OK; its own output goes on
//   LOG (1), log 37 VERSION, 101 TIME or 140 RANGECMP, trigger 4 (once), port address 0xC0
//            (this port) or 0x20 (COM1)                        -> OK, then the log, binary
//            another port address                              -> OK (the log goes there)
//            another log -> kNoSuchLog; another trigger -> kInvalidTrigger
//   COM (4), port 6 (this port) or 1 (COM1), one of the eight rates, no parity, 8 data bits, 1 stop
//            bit                                               -> OK at the old rate, then
//                                                                 switches once it has left
//            port 2 or 3                                       -> OK (another port's settings)
//            another port, rate or framing -> kOutOfRange; when refusing rate changes -> kCommandFailed
//   any other command -> kInvalidMessageId; a command too short for its fields -> kMissingField;
//   a response (message type bit 7 set) -> nothing.
// With wrong acknowledgements it answers every command kCommandFailed and does nothing.
// Wall time comes from the process clock (KClock), the milliseconds from the world's time line.
class KNovatelDevice : public KSimReceiverDevice {
public:
    // Response IDs.
    static constexpr uint32_t kOk = 1;
    static constexpr uint32_t kNoSuchLog = 2;
    static constexpr uint32_t kCommandFailed = 5;
    static constexpr uint32_t kInvalidMessageId = 6;
    static constexpr uint32_t kMissingField = 9;
    static constexpr uint32_t kOutOfRange = 11;
    static constexpr uint32_t kInvalidTrigger = 12;

    KNovatelDevice(uint32_t baud, const KSimDeviceOptions& options = {});

    // The receiver of catalogue type 9; nullptr for other types and for a receiver port named
    // (the cable always sits on its COM1).
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& message) override;
    void SendOutput(int64_t timeNs) override;

    void UnlogAll(int64_t timeNs, const Bytes& payload);
    void Log(int64_t timeNs, const Bytes& payload);
    void Com(int64_t timeNs, const Bytes& payload);
    void Respond(int64_t timeNs, uint16_t commandId, uint32_t responseId);
    // A message of its own, dated at `sendNs`.
    Bytes Message(uint16_t id, uint8_t type, int64_t sendNs, const Bytes& payload) const;
    Bytes LogMessage(uint16_t logId, int64_t sendNs) const;
    Bytes TimePayload(int64_t sendNs) const;
    Bytes RangePayload() const;
    static Bytes VersionPayload();

    KSimNovatelParser parser;
    uint32_t outputCount = 0;
};
