#include "comm/KTelnetCodec.h"

namespace telnet {

namespace {

// A server's answer never needs more; anything longer is not one we could use.
constexpr size_t kLongestSubnegotiation = 64;

bool Wanted(uint8_t option) { return option == kBinary || option == kSuppressGoAhead || option == kComPort; }

} // namespace

std::vector<uint8_t> Codec::Greeting() {
    return {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead,
            kIac, kDo, kSuppressGoAhead, kIac, kWill, kComPort};
}

void Codec::Escape(const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
    out.reserve(out.size() + length);
    for (size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) out.push_back(kIac);
    }
}

std::vector<uint8_t> Codec::ComPortCommandBytes(uint8_t command, const std::vector<uint8_t>& value) {
    std::vector<uint8_t> out = {kIac, kSb, kComPort};
    Escape(&command, 1, out);
    Escape(value.data(), value.size(), out);
    out.push_back(kIac);
    out.push_back(kSe);
    return out;
}

std::vector<uint8_t> Codec::SetBaudRate(uint32_t baud) {
    return ComPortCommandBytes(kSetBaudRate, {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                                              static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)});
}

void Codec::Receive(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& reply) {
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        switch (state) {
        case State::Data:
            if (b == kIac)
                state = State::Iac;
            else
                data.push_back(b);
            break;
        case State::Iac:
            if (b == kIac) {
                data.push_back(kIac);
                state = State::Data;
            } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                verb = b;
                state = State::Option;
            } else if (b == kSb) {
                sub.clear();
                state = State::Sub;
            } else {
                state = State::Data;  // NOP, go-ahead, a stray SE...: nothing for the line
            }
            break;
        case State::Option:
            OnOption(verb, b, reply);
            state = State::Data;
            break;
        case State::Sub:
            if (b == kIac)
                state = State::SubIac;
            else if (sub.size() < kLongestSubnegotiation)
                sub.push_back(b);
            break;
        case State::SubIac:
            if (b == kIac) {
                if (sub.size() < kLongestSubnegotiation) sub.push_back(kIac);
                state = State::Sub;
            } else if (b == kSe) {
                OnSubnegotiation();
                state = State::Data;
            } else {
                // A server that never closed its subnegotiation: take this as a command.
                OnSubnegotiation();
                state = State::Iac;
                --i;
            }
            break;
        }
    }
}

void Codec::OnOption(uint8_t request, uint8_t option, std::vector<uint8_t>& reply) {
    // Only what this side never offered is answered, and only with a refusal: a refusal is never
    // answered, so no exchange can loop.
    switch (request) {
    case kDo:
        if (option == kComPort) comPortAccepted = true;
        if (!Wanted(option)) reply.insert(reply.end(), {kIac, kWont, option});
        break;
    case kWill:
        if (option != kBinary && option != kSuppressGoAhead && option != kComPort)
            reply.insert(reply.end(), {kIac, kDont, option});
        if (option == kComPort) comPortAccepted = true;
        break;
    case kDont:
    case kWont:
        if (option == kComPort) comPortRefused = true;
        break;
    default:
        break;
    }
}

void Codec::OnSubnegotiation() {
    if (sub.size() < 2 || sub[0] != kComPort || sub[1] < kServerAnswerOffset) return;
    answers.push_back({static_cast<uint8_t>(sub[1] - kServerAnswerOffset), std::vector<uint8_t>(sub.begin() + 2, sub.end())});
    // Line- and modem-state notices come unasked and often: keep only the latest few.
    if (answers.size() > 32) answers.erase(answers.begin(), answers.begin() + 16);
}

std::vector<ComPortAnswer> Codec::TakeAnswers() {
    std::vector<ComPortAnswer> taken;
    taken.swap(answers);
    return taken;
}

} // namespace telnet
