// The Linux end of a pseudo-terminal that Wine maps to a COM port, for the Win32 serial-link
// tests. It holds the master side, answers line commands from the Windows program and reports
// the line settings the program's SetCommState left on the terminal.
//
//   PING            -> "PONG"
//   LINE            -> "LINE <baud> <data bits><N|O|E|M|S><stop bits>", e.g. "LINE 9600 8N1"
//   SEND <hex>      -> the decoded bytes, nothing else
//   ECHO <n>        -> after n more raw bytes: "DATA <hex of those bytes>"
//   anything else   -> "ERR"
// Every answer ends with "\n".
//
// Usage: pty_peer NAME_FILE   writes the slave's path into NAME_FILE, then serves until killed.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t stopping = 0;

void OnSignal(int) { stopping = 1; }

bool WriteAll(int fd, const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void Answer(int fd, const std::string& line) {
    const std::string text = line + "\n";
    WriteAll(fd, text.data(), text.size());
}

long BaudOf(speed_t speed) {
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return -1;
    }
}

// The master reports the terminal settings of its slave.
std::string LineSettings(int master) {
    termios tio{};
    if (tcgetattr(master, &tio) != 0) return "LINE ? " + std::string(std::strerror(errno));
    int bits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5: bits = 5; break;
    case CS6: bits = 6; break;
    case CS7: bits = 7; break;
    default: bits = 8; break;
    }
    char parity = 'N';
    if (tio.c_cflag & PARENB) {
        const bool odd = (tio.c_cflag & PARODD) != 0;
        if (tio.c_cflag & CMSPAR)
            parity = odd ? 'M' : 'S';
        else
            parity = odd ? 'O' : 'E';
    }
    const int stop = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return "LINE " + std::to_string(BaudOf(cfgetospeed(&tio))) + " " + std::to_string(bits) +
           parity + std::to_string(stop);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool DecodeHex(const std::string& text, std::vector<unsigned char>& bytes) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return true;
}

std::string EncodeHex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

class Session {
public:
    explicit Session(int masterFd) : master(masterFd) {}

    void Feed(const char* data, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            const char c = data[i];
            if (echoLeft > 0) {
                echoed += c;
                if (--echoLeft == 0) {
                    Answer(master, "DATA " + EncodeHex(echoed));
                    echoed.clear();
                }
            } else if (c == '\n') {
                Command(line);
                line.clear();
            } else if (c != '\r') {
                line += c;
            }
        }
    }

private:
    void Command(const std::string& text) {
        std::vector<unsigned char> bytes;
        if (text == "PING") {
            Answer(master, "PONG");
        } else if (text == "LINE") {
            Answer(master, LineSettings(master));
        } else if (text.rfind("SEND ", 0) == 0 && DecodeHex(text.substr(5), bytes)) {
            WriteAll(master, bytes.data(), bytes.size());
        } else if (text.rfind("ECHO ", 0) == 0 && std::atol(text.c_str() + 5) > 0) {
            echoLeft = static_cast<size_t>(std::atol(text.c_str() + 5));
        } else {
            Answer(master, "ERR");
        }
    }

    int master;
    std::string line;
    size_t echoLeft = 0;
    std::string echoed;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s NAME_FILE\n", argv[0]);
        return 2;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty_peer: posix_openpt");
        return 1;
    }
    const char* name = ptsname(master);
    // Holding the slave open keeps the terminal (and its settings) alive between the Windows
    // program's opens, and keeps the master from reading end-of-file while the port is closed.
    const int slave = name ? ::open(name, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) {
        std::perror("pty_peer: open slave");
        return 1;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);

    const std::string target = argv[1];
    const std::string temporary = target + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file || std::fprintf(file, "%s\n", name) < 0 || std::fclose(file) != 0 ||
        std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::perror("pty_peer: name file");
        return 1;
    }

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGHUP, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    Session session(master);
    char buffer[4096];
    while (!stopping) {
        pollfd p{master, POLLIN, 0};
        const int ready = ::poll(&p, 1, 200);
        if (ready <= 0) continue;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            session.Feed(buffer, static_cast<size_t>(n));
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            ::usleep(50000);
    }
    ::close(slave);
    ::close(master);
    return 0;
}
