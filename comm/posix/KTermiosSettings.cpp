#include "comm/posix/KTermiosSettings.h"

namespace {

tcflag_t FramingMask() {
    tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CMSPAR
    mask |= CMSPAR;
#endif
    return mask;
}

} // namespace

namespace KTermiosSettings {

bool SpeedFor(uint32_t baud, speed_t& speed) {
    switch (baud) {
    case 50: speed = B50; return true;
    case 75: speed = B75; return true;
    case 110: speed = B110; return true;
    case 134: speed = B134; return true;
    case 150: speed = B150; return true;
    case 200: speed = B200; return true;
    case 300: speed = B300; return true;
    case 600: speed = B600; return true;
    case 1200: speed = B1200; return true;
    case 1800: speed = B1800; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
#ifdef B57600
    case 57600: speed = B57600; return true;
#endif
#ifdef B115200
    case 115200: speed = B115200; return true;
#endif
#ifdef B230400
    case 230400: speed = B230400; return true;
#endif
#ifdef B460800
    case 460800: speed = B460800; return true;
#endif
#ifdef B500000
    case 500000: speed = B500000; return true;
#endif
#ifdef B576000
    case 576000: speed = B576000; return true;
#endif
#ifdef B921600
    case 921600: speed = B921600; return true;
#endif
#ifdef B1000000
    case 1000000: speed = B1000000; return true;
#endif
    default: return false;  // 0 among them: B0 would hang the line up
    }
}

bool Build(const KLineSettings& dcb, termios& tio, std::string& why) {
    speed_t speed;
    if (!SpeedFor(dcb.BaudRate, speed)) {
        why = std::to_string(dcb.BaudRate) + " baud is not a rate this system can set";
        return false;
    }
    tcflag_t size;
    switch (dcb.ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default:
        why = std::to_string(dcb.ByteSize) + " data bits cannot be set (5 to 8 can)";
        return false;
    }
    tcflag_t parity = 0;
    switch (dcb.Parity) {
    case 0: break;
    case 1: parity = PARENB | PARODD; break;
    case 2: parity = PARENB; break;
#ifdef CMSPAR
    case 3: parity = PARENB | PARODD | CMSPAR; break;  // the parity bit always 1
    case 4: parity = PARENB | CMSPAR; break;           // the parity bit always 0
#endif
    default:
        why = "parity " + std::to_string(dcb.Parity) + " cannot be set on this system";
        return false;
    }

    // Binary in, binary out: every byte as it is, nothing that XON/XOFF, BREAK, CR/LF or
    // parity errors could alter or swallow.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                          IXON | IXOFF | IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~FramingMask();
#ifdef CRTSCTS
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    tio.c_cflag |= CLOCAL | CREAD | size | parity;
    if (dcb.StopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        why = std::to_string(dcb.BaudRate) + " baud is not a rate this system can set";
        return false;
    }
    return true;
}

bool Kept(const termios& wanted, const termios& got, bool compareFraming) {
    if (cfgetospeed(&got) != cfgetospeed(&wanted) || cfgetispeed(&got) != cfgetispeed(&wanted))
        return false;
    if (compareFraming && (got.c_cflag & FramingMask()) != (wanted.c_cflag & FramingMask()))
        return false;
    return true;
}

std::string Describe(const KLineSettings& dcb) {
    static const char parityLetters[] = "NOEMS";
    const char parity = dcb.Parity < 5 ? parityLetters[dcb.Parity] : '?';
    return std::to_string(dcb.BaudRate) + " baud, " + std::to_string(dcb.ByteSize) +
           " data bits, parity " + parity + ", " + (dcb.StopBits == 2 ? "2 stop bits" : "1 stop bit");
}

} // namespace KTermiosSettings
