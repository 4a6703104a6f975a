#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "comm/KSerialComm.h"
#include "comm/KSerialPort.h"

namespace {

// The flag bits as SetCommState receives them: the 32-bit word after BaudRate.
DWORD FlagWord(const DCB& dcb) {
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
                sizeof flags);
    return flags;
}

TEST(Win32SerialPort, StartsAsARawBinaryLineWithDtrAndRtsRaised) {
    const KSerialPort port;
    EXPECT_EQ(sizeof(DCB), 28u);
    EXPECT_EQ(port.dcb.DCBlength, 28u);
    EXPECT_EQ(port.dcb.BaudRate, 115200u);
    EXPECT_EQ(FlagWord(port.dcb), 0x1011u);
    EXPECT_EQ(port.dcb.wReserved, 0);
    EXPECT_EQ(port.dcb.XonLim, 0);
    EXPECT_EQ(port.dcb.XoffLim, 0);
    EXPECT_EQ(port.dcb.ByteSize, 8);
    EXPECT_EQ(port.dcb.Parity, NOPARITY);
    EXPECT_EQ(port.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(port.dcb.XonChar, 0);
    EXPECT_EQ(port.dcb.XoffChar, 0);
    EXPECT_EQ(port.dcb.ErrorChar, 0);
    EXPECT_EQ(port.dcb.EofChar, 0);
    EXPECT_EQ(port.dcb.EvtChar, 0);
    EXPECT_EQ(port.dcb.wReserved1, 0);
    EXPECT_EQ(port.portNumber, 0);
    EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
}

TEST(Win32SerialPort, FlagWordNamesTheFlagsItStandsFor) {
    const KSerialPort port;
    EXPECT_EQ(port.dcb.fBinary, 1u);
    EXPECT_EQ(port.dcb.fParity, 0u);
    EXPECT_EQ(port.dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(port.dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(port.dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(port.dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(port.dcb.fTXContinueOnXoff, 0u);
    EXPECT_EQ(port.dcb.fOutX, 0u);
    EXPECT_EQ(port.dcb.fInX, 0u);
    EXPECT_EQ(port.dcb.fErrorChar, 0u);
    EXPECT_EQ(port.dcb.fNull, 0u);
    EXPECT_EQ(port.dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(port.dcb.fAbortOnError, 0u);
}

TEST(Win32SerialPort, LinkStartsClosedWithThePortInItsInitialState) {
    KSerialComm link;
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.port.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FlagWord(link.port.dcb), 0x1011u);
    EXPECT_TRUE(link.Close());
}

} // namespace

#endif // _WIN32
