#pragma once
#include <cstdint>
#include <string>

// The last receiver, port and rate, kept in the Windows program's settings layout (section
// "BaudSet", keys "LastRcvr", "LastPort", "LastBaud"), plus the device path beside the port index so a named
// device is found again.
struct RememberedChoices {
    int32_t receiverType = 2;
    int32_t portNumber = 0;
    int32_t baud = 9600;
    std::string device;
    bool found = false;  // true when a settings file held them

    static RememberedChoices Load(const std::string& path);
    void Save(const std::string& path) const;
};
