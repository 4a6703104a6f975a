#include "receivers/KLeicaRS500Receiver.h"

#include "log/DebugTrace.h"

namespace {
constexpr int32_t kReplyMs = 10000;

bool RateCode(int32_t baud, uint8_t& code) {
    static constexpr int32_t rates[] = {150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (uint8_t i = 0; i < sizeof rates / sizeof rates[0]; ++i) {
        if (rates[i] == baud) {
            code = i;
            return true;
        }
    }
    return false;
}
} // namespace

bool KLeicaRS500Receiver::ChangeBaud(int32_t baud) {
    uint8_t code;
    if (!RateCode(baud, code)) {
        DebugTrace("Couldn't set baud - no command byte found... \n");
        return false;
    }
    const uint8_t payload[] = {0xFA, 0x82, 0x00, code, 0x00, 0x08, 0x01, 0x00};
    if (!SendFrame(payload, sizeof payload)) {
        DebugTrace(" CHG BAUD MSG NEVER WENT OUT!\n\n");
        return false;
    }
    const uint8_t ack[] = {0xFC, 0xFA, 0x82};
    if (WaitForPayload(ack, sizeof ack, kReplyMs)) return true;
    DebugTrace(" Never got a RS500 ack for CHG BAUD\n");
    return false;
}

bool KLeicaRS500Receiver::QueryTime(KGPSTime& time) {
    const uint8_t query[] = {0xFB, 0xFA, 0x07, 0x00, 0xC8, 0x01, 0x00, 0x00};
    if (SendFrame(query, sizeof query)) {
        const uint8_t reply[] = {0xFA, 0x07};
        // The fields run to frame offset 12.
        if (auto message = WaitForPayload(reply, sizeof reply, kReplyMs, 13 + 2)) {
            const uint8_t* f = message->data.get();
            // Single precision, as the receiver's own arithmetic rounds it.
            const float fraction = static_cast<float>(f[9]) / 100.0f;
            const float seconds = fraction + static_cast<float>(f[8]);
            time = KGPSTime(f[12], f[11], f[10], f[6], f[7], static_cast<double>(seconds));
            return true;
        }
    }
    time = KGPSTime();
    return false;
}
