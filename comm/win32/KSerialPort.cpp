#include "comm/KSerialPort.h"

#include <cstring>

// A raw binary line with DTR and RTS raised and no flow control of any kind; an open changes only
// the rate and the character framing.
KSerialPort::KSerialPort() : portNumber(0), handle(INVALID_HANDLE_VALUE) {
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 115200;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
}
