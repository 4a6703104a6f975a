#pragma once
#include <cstdint>
#include <string>

#include "support/FramerHarness.h"

// Builders of Ashtech responses and NMEA sentences for tests, written independently of the
// framer.

// Body size of a fixed-length "$PASHR" response type ("MPC" 94, "PBN" 54, "GBN" 36, "SNV" 130,
// "MCA" 36); 0 for other types.
size_t AshtechBodySize(const std::string& type);

// "$PASHR,<type>," + body + check (XOR byte for MPC and MCA, big-endian word sum for PBN and
// SNV, none for GBN) + CR LF. The body must have the type's size.
Bytes AshtechFixed(const std::string& type, const Bytes& body);
// The same with a body of pseudo-random bytes (sync-looking bytes and CR LF included).
Bytes AshtechFixed(const std::string& type, uint32_t seed = 1);

// "$PASHR," + text + CR LF.
Bytes PashrLine(const std::string& text);

// NMEA XOR of the characters between "$" and "*".
uint8_t NmeaChecksum(const std::string& between);
// "$GPXDR," + fields + "*" + two hex digits of the checksum + CR LF. With `lowerCase` the
// digits are written as lower-case letters where they are letters.
Bytes GpxdrSentence(const std::string& fields, bool lowerCase = false);
// "$GPXDR," + fields + "*" + the two given characters + CR LF.
Bytes GpxdrWithCheck(const std::string& fields, const std::string& check);

Bytes Text(const std::string& text);
