#pragma once
#include <termios.h>

#include <cstdint>
#include <string>

#include "comm/KSerialPort.h"

// How the Win32-style line settings of a serial link become termios settings.
namespace KTermiosSettings {

// The termios speed constant for a rate in bits per second; false for rates termios cannot name.
bool SpeedFor(uint32_t baud, speed_t& speed);

// Turns `tio` (the device's current settings) into a raw line with the rate and framing of
// `dcb`: no echo, no signals, no translation, no flow control of any kind, no parity checking
// of received bytes, reads that return at once. False, with `why`, when the settings cannot be
// expressed here (an unknown rate, a word length outside 5..8, mark or space parity without
// CMSPAR).
bool Build(const KLineSettings& dcb, termios& tio, std::string& why);

// Whether the driver kept the rate (and, when `compareFraming`, the word length, parity and stop
// bits) that was asked for: drivers adjust what they cannot do instead of refusing it.
bool Kept(const termios& wanted, const termios& got, bool compareFraming);

// "57600 baud, 8 data bits, parity E, 1 stop bit", for messages.
std::string Describe(const KLineSettings& dcb);

} // namespace KTermiosSettings
