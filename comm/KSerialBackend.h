#pragma once
#include <cstdint>
#include <string>

#include "comm/KOpenError.h"
#include "comm/KSerialPort.h"

// The platform half of the serial link (comm/posix, comm/win32). The portable half in
// KSerialComm takes the port lock and fills `port.dcb` before calling Open.
namespace KSerialBackend {

// Opens `device` exclusively, applies port.dcb, makes reads return at once and writes give up
// after 1000 ms, and drops whatever both queues held. On failure fills `error` (kind NotPresent
// when the device does not exist or is no serial device, Busy when it could not be opened or
// claimed otherwise, Settings when the line settings were refused) and leaves the port closed.
bool Open(KSerialPort& port, const std::string& device, KOpenError& error);
// Waits (at most 1000 ms) for what was written to leave the line, then closes.
void Close(KSerialPort& port);
#if !defined(_WIN32)
// Moves an open port to the line settings in port.dcb without letting go of it (the lock file,
// the advisory lock and the exclusive claim stay): what was written leaves at the old rate first
// (or is dropped when it cannot), and both queues are emptied, as a close and a new open would.
// When the settings are refused, fills `error` and leaves the line as it was found at open; a
// device found gone is marked so instead.
bool ChangeLine(KSerialPort& port, const std::string& device, KOpenError& error);
#endif
bool IsValid(const KSerialPort& port);
bool Write(KSerialPort& port, const void* data, uint32_t length);
// Bytes waiting in the driver's input queue, or -1 when that cannot be learned.
int64_t InputQueued(KSerialPort& port);
// One read of up to `length` bytes; the count read, 0 when nothing or on failure.
int32_t Read(KSerialPort& port, void* buffer, uint32_t length);
// Shows an open failure the platform's way when no front end has asked otherwise
// (a message box on Windows; nothing elsewhere).
void ShowOpenFailure(const KOpenError& error);

} // namespace KSerialBackend
