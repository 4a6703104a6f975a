#pragma once
#include <atomic>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>

// The open port: the line settings handed whole to SetCommState, and the file handle.
struct KSerialPort {
    KSerialPort();
    DCB dcb;
    int32_t portNumber;
    HANDLE handle;
    std::atomic<bool> gone{false};  // the device hung up or was removed; cleared by a new open
    // Process-clock time before which what was written cannot all have left the line: the
    // driver's queue count leaves out bytes already in the adapter's or UART's own buffer.
    int64_t sendingUntilMs = 0;
};
#else
#include <termios.h>

#include "comm/posix/KUucpLock.h"

// The four DCB fields that an open changes, with the Win32 values (Parity 0..4: none, odd,
// even, mark, space; StopBits 0 one, 2 two), so both platforms map the settings alike.
struct KLineSettings {
    uint32_t DCBlength = 28;
    uint32_t BaudRate = 115200;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
};

struct KSerialPort {
    KLineSettings dcb;
    int32_t portNumber = 0;
    int handle = -1;  // file descriptor
    termios found{};  // the line settings at open, given back at close
    KUucpLock lock;   // the UUCP lock file taken at open, when the lock folder could be written
    std::atomic<bool> gone{false};  // the device hung up or failed with an I/O error; cleared by a new open
};
#endif
