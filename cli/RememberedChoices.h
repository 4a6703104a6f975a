#pragma once
#include <cstdint>
#include <string>

// The last receiver, port and rate, kept in the Windows program's settings layout (section
// "BaudSet", keys "LastRcvr", "LastPort", "LastBaud"), plus, beside the port index, the device
// path of a device named outside the slots ("LastDevice") and what the slot is known by
// ("LastPortName": its stable name, else its device), so that the same port is found again
// whatever order the ports enumerate in.
struct RememberedChoices {
    int32_t receiverType = 2;
    int32_t portNumber = 0;
    int32_t baud = 9600;
    std::string device;
    std::string portIdentity;
    bool found = false;  // true when a settings file held them

    // The choices in the file, or the defaults; `problem` gets why a file that is there was not
    // read (too large, unreadable).
    static RememberedChoices Load(const std::string& path, std::string* problem = nullptr);
    // Writes all of them as one change of the file (two programs saving at once leave one's
    // choices, never a mixture). False, with the reason in `problem`, when nothing was written:
    // a device path with a line break is not written at all, nor anything with it.
    bool Save(const std::string& path, std::string* problem = nullptr) const;
};
