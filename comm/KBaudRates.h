#pragma once
#include <array>
#include <cstdint>
#include <string>

// The eight rates the session detects and sets, slowest first; the front ends offer the same.
inline constexpr std::array<int32_t, 8> kBaudRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

constexpr bool IsBaudRate(long long rate) {
    for (int32_t r : kBaudRates)
        if (r == rate) return true;
    return false;
}

// Whether this system's serial ports can be set to the rate (termios has no 14400, for one).
bool SystemSetsRate(int32_t baud);

// "1200 2400 4800 9600 19200 38400 57600 115200", for messages.
inline std::string BaudRatesText() {
    std::string text;
    for (int32_t r : kBaudRates) text += (text.empty() ? "" : " ") + std::to_string(r);
    return text;
}
