#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comm/posix/KTermiosSettings.h"

namespace {

// Settings as a cooked terminal might have them, with every flag a raw line must not keep.
termios Cooked() {
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_iflag = static_cast<tcflag_t>(~0u);
    tio.c_oflag = static_cast<tcflag_t>(~0u);
    tio.c_lflag = static_cast<tcflag_t>(~0u);
    tio.c_cflag = CS7 | PARENB | PARODD | CSTOPB | HUPCL;
#ifdef CRTSCTS
    tio.c_cflag |= CRTSCTS;
#endif
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 5;
    return tio;
}

KLineSettings Line(uint32_t baud, uint8_t size = 8, uint8_t parity = 0, uint8_t stopBits = 0) {
    KLineSettings dcb;
    dcb.BaudRate = baud;
    dcb.ByteSize = size;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    return dcb;
}

TEST(TermiosSettings, RawLineWithNoFlowControlAndReadsThatReturnAtOnce) {
    termios tio = Cooked();
    std::string why;
    ASSERT_TRUE(KTermiosSettings::Build(Line(9600), tio, why)) << why;
    const tcflag_t inputMustBeOff = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                    IXOFF | IXANY | INPCK | IGNPAR;
    EXPECT_EQ(tio.c_iflag & inputMustBeOff, 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CSTOPB), 0u);
#ifdef CRTSCTS
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
#endif
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
}

TEST(TermiosSettings, EveryRateOfTheBaudListHasItsSpeed) {
    const std::pair<uint32_t, speed_t> rates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
                                                  {9600, B9600},   {19200, B19200}, {38400, B38400},
                                                  {57600, B57600}, {115200, B115200}};
    for (const auto& [baud, speed] : rates) {
        speed_t found = 0;
        ASSERT_TRUE(KTermiosSettings::SpeedFor(baud, found)) << baud;
        EXPECT_EQ(found, speed) << baud;
    }
    speed_t unused;
    for (uint32_t odd : {0u, 1u, 9601u, 12345u, 0xFFFFFFFFu}) EXPECT_FALSE(KTermiosSettings::SpeedFor(odd, unused)) << odd;
}

TEST(TermiosSettings, ParityWordLengthAndStopBits) {
    struct Case {
        KLineSettings dcb;
        tcflag_t framing;
    };
    std::vector<Case> cases = {
        {Line(9600, 8, 0, 0), CS8},
        {Line(9600, 7, 1, 0), CS7 | PARENB | PARODD},
        {Line(9600, 7, 2, 2), CS7 | PARENB | CSTOPB},
        {Line(9600, 6, 0, 2), CS6 | CSTOPB},
        {Line(9600, 5, 0, 0), CS5},
        {Line(9600, 8, 0, 1), CS8},  // 1.5 stop bits is never asked for; anything but 2 is one
    };
#ifdef CMSPAR
    cases.push_back({Line(9600, 8, 3, 0), CS8 | PARENB | PARODD | CMSPAR});
    cases.push_back({Line(9600, 8, 4, 0), CS8 | PARENB | CMSPAR});
    const tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB | CMSPAR;
#else
    const tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB;
#endif
    for (const Case& c : cases) {
        termios tio = Cooked();
        std::string why;
        ASSERT_TRUE(KTermiosSettings::Build(c.dcb, tio, why)) << KTermiosSettings::Describe(c.dcb);
        EXPECT_EQ(tio.c_cflag & mask, c.framing) << KTermiosSettings::Describe(c.dcb);
        EXPECT_EQ(tio.c_iflag & INPCK, 0u) << "received parity is not checked";
    }
}

TEST(TermiosSettings, WhatCannotBeExpressedIsRefusedWithAReason) {
    struct Case {
        KLineSettings dcb;
        const char* inWhy;
    } cases[] = {{Line(12345), "12345 baud"}, {Line(0), "0 baud"},           {Line(9600, 4), "4 data bits"},
                 {Line(9600, 9), "9 data bits"}, {Line(9600, 8, 5), "parity 5"}};
    for (const Case& c : cases) {
        termios tio = Cooked();
        std::string why;
        EXPECT_FALSE(KTermiosSettings::Build(c.dcb, tio, why)) << c.inWhy;
        EXPECT_NE(why.find(c.inWhy), std::string::npos) << why;
    }
}

TEST(TermiosSettings, KeptComparesTheRateAndOnRequestTheFraming) {
    termios wanted = Cooked();
    std::string why;
    ASSERT_TRUE(KTermiosSettings::Build(Line(57600, 7, 2, 2), wanted, why));
    EXPECT_TRUE(KTermiosSettings::Kept(wanted, wanted, true));

    termios slower = wanted;
    cfsetospeed(&slower, B38400);
    EXPECT_FALSE(KTermiosSettings::Kept(wanted, slower, false));
    termios slowerIn = wanted;
    cfsetispeed(&slowerIn, B38400);
    EXPECT_FALSE(KTermiosSettings::Kept(wanted, slowerIn, false));

    // What a pseudo-terminal does to any request: 8 bits, no parity.
    termios eightBits = wanted;
    eightBits.c_cflag = (eightBits.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
    EXPECT_FALSE(KTermiosSettings::Kept(wanted, eightBits, true));
    EXPECT_TRUE(KTermiosSettings::Kept(wanted, eightBits, false));

    termios oneStop = wanted;
    oneStop.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    EXPECT_FALSE(KTermiosSettings::Kept(wanted, oneStop, true));
}

TEST(TermiosSettings, DescribeNamesRateAndFraming) {
    EXPECT_EQ(KTermiosSettings::Describe(Line(57600, 8, 2, 0)), "57600 baud, 8 data bits, parity E, 1 stop bit");
    EXPECT_EQ(KTermiosSettings::Describe(Line(4800, 7, 4, 2)), "4800 baud, 7 data bits, parity S, 2 stop bits");
    EXPECT_EQ(KTermiosSettings::Describe(Line(1200, 8, 9, 0)), "1200 baud, 8 data bits, parity ?, 1 stop bit");
}

} // namespace
#endif
