#pragma once
#include <cstdint>
#include <string>

// Where a session opens: a registry slot (PortNumber), or a device the user named.
struct PortChoice {
    int32_t portNumber = 0;
    std::string devicePath;  // empty: the registry's device of portNumber
    std::string display;     // for messages
};

// "COM3" (slot 2 of `velinor ports`), a device path ("/dev/ttyUSB0", a pseudo-terminal), or a
// listed label. False, with the reason in `error`, for anything that names no port.
bool ChoosePort(const std::string& text, PortChoice& choice, std::string& error);
