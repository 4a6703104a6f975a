#pragma once
#include <cstddef>
#include <cstdint>

#include <string>
#include <vector>

#include "support/FramerHarness.h"
#include "support/FuzzSeeds.h"

// Builders of Novatel binary logs for tests, with their own bitwise CRC-32 (independent of the
// framer's table-driven one).

// CRC-32, reflected polynomial 0xEDB88320, initial value 0, no final XOR, bit by bit.
uint32_t NovatelCrc32(const uint8_t* bytes, size_t size);
inline uint32_t NovatelCrc32(const Bytes& bytes) { return NovatelCrc32(bytes.data(), bytes.size()); }

struct NovatelHeader {
    uint16_t messageId = 42;        // BESTPOS
    uint8_t messageType = 0x00;     // bits 5-6 give the format: 0 binary, 1 ASCII, 2 abbreviated
    uint8_t portAddress = 0x20;     // COM1
    uint16_t sequence = 0;
    uint8_t idleTime = 0x50;
    uint8_t timeStatus = 180;       // FINESTEERING
    uint16_t week = 1520;
    uint32_t milliseconds = 345600000;
    uint32_t receiverStatus = 0;
    uint16_t softwareVersion = 0x1234;
};

// A complete log: 28-byte header (M taken from data.size()), the data, the CRC.
Bytes NovatelLog(const Bytes& data, const NovatelHeader& header = {});
// A log whose data is `size` bytes of a repeatable pattern (never containing AA 44 12).
Bytes NovatelLogOfSize(size_t size, uint16_t messageId = 42);

// Recomputes the CRC of a log after its other bytes were edited (its length stays).
Bytes NovatelResealed(Bytes log);
// Flips one bit of the stored CRC.
Bytes NovatelWithBadCrc(Bytes log);
// Sets one byte and reseals, so that only the edited field is wrong.
Bytes NovatelWithByte(Bytes log, size_t offset, uint8_t value);
// A sync followed by a header-length byte and `headerLength` - 4 further header bytes (when
// positive) of a repeatable pattern: what a log with a foreign header looks like.
Bytes NovatelForeignHeader(uint8_t headerLength);

// Seeds of the Novatel fuzz corpus: streams that reach every path of the framer.
std::vector<FuzzSeed> NovatelFuzzSeeds();
