#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The Telnet layer of a network serial port (RFC 854/855) with the serial-port control of
// RFC 2217: the line's bytes are escaped (IAC doubled) on the way out and unescaped on the way
// in, option requests are answered, and the server's answers to port commands are kept for the
// link to check. Pure bookkeeping: the caller moves the bytes.
namespace telnet {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

constexpr uint8_t kBinary = 0;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers each with the command + 100.
enum ComPortCommand : uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kPurgeData = 12,
};
constexpr uint8_t kServerAnswerOffset = 100;

// What the option exchange and the port's answers have come to.
struct ComPortAnswer {
    uint8_t command = 0;         // the client command it answers (kSetBaudRate...)
    std::vector<uint8_t> value;  // its value bytes as the server sent them
};

class Codec {
public:
    // The opening requests: binary both ways, no go-aheads, and the COM port option.
    static std::vector<uint8_t> Greeting();
    // `length` line bytes as they go on the connection: every 255 doubled.
    static void Escape(const uint8_t* data, size_t length, std::vector<uint8_t>& out);
    // A COM-PORT-OPTION subnegotiation carrying `value` (escaped as data is).
    static std::vector<uint8_t> ComPortCommandBytes(uint8_t command, const std::vector<uint8_t>& value);
    static std::vector<uint8_t> SetBaudRate(uint32_t baud);

    // Takes `length` bytes as they came off the connection, in any cut: the line's own bytes are
    // appended to `data`, answers the server must get (refusals of options never asked for, and
    // agreement to those offered that this side wants) to `reply`.
    void Receive(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& reply);

    // The server's COM port answers received so far, oldest first; taken, they are forgotten.
    std::vector<ComPortAnswer> TakeAnswers();
    // Whether the server agreed to the COM port option (it sent DO or WILL for it).
    bool ComPortAccepted() const { return comPortAccepted; }
    // Whether the server refused it (DONT or WONT): a plain Telnet server, not RFC 2217.
    bool ComPortRefused() const { return comPortRefused; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void OnOption(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply);
    void OnSubnegotiation();

    State state = State::Data;
    uint8_t verb = 0;
    std::vector<uint8_t> sub;
    std::vector<ComPortAnswer> answers;
    bool comPortAccepted = false;
    bool comPortRefused = false;
};

} // namespace telnet
