#pragma once
#include <cstdint>

// Fields of receiver messages. Numbers written as text in fixed-width fields are read as atoi
// and atof would but never past the field: the caller gives the width that the message holds.

// Leading blanks, an optional sign, then digits up to the first other character (0 without any).
int32_t FieldInteger(const uint8_t* text, uint32_t width);
// Leading blanks, then the longest decimal number the field begins with (0.0 without any).
double FieldDecimal(const uint8_t* text, uint32_t width);
// An unsigned binary field of 1 to 4 bytes, least significant byte first.
uint32_t LittleEndian(const uint8_t* bytes, int size);
