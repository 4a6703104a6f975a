#pragma once
#include <cstdint>
#include <string>

#include "support/FramerHarness.h"

// Builders of Topcon GRIL messages for tests, written independently of the framer.

uint16_t GrilCrc16(const Bytes& data);      // CRC-16/XMODEM, bit by bit
uint8_t GrilChecksum8(const Bytes& data);   // 8-bit rotating checksum

// Identifier, three upper-case hex digits of the body length, body. No check is added.
Bytes TopconMessage(const std::string& id, const Bytes& body);
Bytes TopconMessage(const std::string& id, const std::string& body);

// A message whose identifier carries a check: `payload` followed by the check value the
// identifier asks for ("rM": CRC-16 low byte first; "GE", "NE", "PO", "~~": checksum byte;
// ">>": checksum as two upper-case hex digits). Other identifiers get no check.
Bytes TopconChecked(const std::string& id, const Bytes& payload);
Bytes TopconChecked(const std::string& id, const std::string& payload);

// The message with CR LF after it.
Bytes WithCrLf(const Bytes& message);

// Copies of `frame` with one byte changed: XORed with `mask`, or replaced.
Bytes FlipByte(const Bytes& frame, size_t at, uint8_t mask = 0x01);
Bytes SetByte(const Bytes& frame, size_t at, uint8_t value);
// The check bytes at the end of a ">>" message in lower case.
Bytes LowerCaseCheckDigits(const Bytes& message);
// An "rM" message with its two CRC bytes in the wrong order.
Bytes SwapLastTwo(const Bytes& message);

// Deterministic filler bytes (any values, including sync-looking ones).
Bytes PseudoRandomBytes(size_t size, uint32_t seed);
