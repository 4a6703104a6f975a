#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/KSimReceiverDevice.h"

// A simulated Septentrio receiver (a mosaic-like module) cabled to one of its serial ports, COM1
// to COM4 (KSimDeviceOptions::receiverPort "COM1".."COM4" or "1".."4"; COM1 by default). Its
// command line takes bytes up to CR or LF (an LF right after a CR ends nothing more); whatever
// came before, garbage heard at a wrong rate included, is part of the line. A line longer than
// kMaxCommand is forgotten whole, so that its end reads as an empty line. Every line gets an
// answer after the reply delay, ended by the prompt of its port ("COM2>"):
//   (empty)                                   -> an empty line
//   grc / getReceiverCapabilities             -> $R: <as sent>, then its capabilities
//   gcs / getCOMSettings, COMn                -> $R: <as sent>, then COMn's settings
//   scs / setCOMSettings, COMn, baudN[, ...]  -> $R: <as sent>, then COMn's settings; when COMn
//                                                is its own port it switches to N once the
//                                                answer has left (other ports only keep the
//                                                setting); refused -> $R? <as sent>: ...
//   eccf / exeCopyConfigFile, Current, Boot   -> $R: <as sent>; the configuration is saved
//                                                (refusing saves: $R? <as sent>: ...)
//   anything else                             -> $R? <as sent>: Invalid command!
// A line completed before the prompt of the last answer has left is discarded, answered
// "$R? ASCII commands between prompts were discarded!". With wrong acknowledgements its prompts name the next port.
// Periodic output, each output period: the SBF blocks ReceiverTime and EndOfPVT (40 bytes, a
// third of what 1200 baud carries), their headers telling the GPS time they are sent at.
class KSeptentrioDevice : public KSimReceiverDevice {
public:
    static constexpr size_t kMaxCommand = 512;

    KSeptentrioDevice(uint32_t baud, int32_t port, const KSimDeviceOptions& options = {});

    // The receiver of catalogue type 17; nullptr for another type, a rate it does not have or a
    // port it lacks.
    static std::unique_ptr<KSimDevice> Create(int32_t typeId, uint32_t baud, const KSimDeviceOptions& options);
    static std::span<const uint32_t> Rates(int32_t typeId);

    // An SBF block: "$@", the CRC-16 of the rest, ID (revision in the top three bits), length,
    // then `body` padded to a multiple of 4 (the time fields, if any, are the body's start).
    static Bytes SbfBlock(uint16_t id, const Bytes& body);

    int32_t Port() const { return port; }
    // The rate of port `n` (1 to 4): the one the cabled port runs at, the others' as set.
    uint32_t PortRate(int32_t n) const { return n == port ? Baud() : rates[static_cast<size_t>(n - 1)]; }
    // The cabled port's rate as the boot configuration holds it.
    uint32_t SavedBaud() const override { return savedBaud; }

private:
    void Read(uint8_t byte, std::vector<Bytes>& out) override;
    void Handle(int64_t timeNs, const Bytes& request) override;
    void SendOutput(int64_t timeNs) override;

    // The answer to one command line (without its line end); `switchTo` gets a new rate.
    std::string Answer(std::string_view line, uint32_t& switchTo);
    std::string Settings(int32_t n) const;
    std::string Prompt() const;

    const int32_t port;
    std::array<uint32_t, 4> rates;
    Bytes line;
    bool afterCr = false;
    uint32_t savedBaud = 0;
    int64_t promptSentNs = -1;
};
