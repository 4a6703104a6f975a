#pragma once
#include <cstdint>
#include <string>

// Where a session opens: a registry slot (PortNumber), or a device the user named.
struct PortChoice {
    int32_t portNumber = 0;
    std::string devicePath;  // empty: the registry's device of portNumber
    std::string display;     // for messages
    // What a slot is remembered by: the stable name the user gave or the port's own, else its
    // device. Empty for a device named by path outside the slots (devicePath is remembered).
    std::string identity;
};

// "COM3" (slot 2 of `velinor ports`), a device path ("/dev/ttyUSB0", a pseudo-terminal, a link
// such as /dev/serial/by-path/...), a listed name, or a network port (rfc2217://HOST:PORT,
// socket://HOST:PORT). False, with the reason in `error`, for
// anything that names no port.
bool ChoosePort(const std::string& text, PortChoice& choice, std::string& error);

// The port last used, from what was remembered of it: a slot by its identity wherever it now
// is, a device by its path, or (remembered without either) the slot itself. False, with the
// reason, when the remembered port is gone: its old slot may now be another instrument, which
// must not be sent commands unasked.
bool ChooseRememberedPort(int32_t portNumber, const std::string& identity, const std::string& device,
                          PortChoice& choice, std::string& error);
