#include "receivers/KLeicaCRS1000Receiver.h"

#include "comm/KBaudRates.h"
#include "log/DebugTrace.h"

namespace {
constexpr int32_t kReplyMs = 5000;

bool RateCode(int32_t baud, uint8_t& code) {
    // Rate codes 3 to 10 are the eight rates.
    for (uint8_t i = 0; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] == baud) {
            code = static_cast<uint8_t>(i + 3);
            return true;
        }
    }
    return false;
}
} // namespace

bool KLeicaCRS1000Receiver::ChangeBaud(int32_t baud) {
    uint8_t code;
    if (!RateCode(baud, code)) {
        DebugTrace("Couldn't set baud - no command byte found... \n");
        return false;
    }
    const uint8_t payload[] = {0x80, 0x00, code, 0x00, 0xFF, 0xFF};
    if (!SendFrame(payload, sizeof payload)) {
        DebugTrace(" CHG BAUD MSG NEVER WENT OUT!\n\n");
        return false;
    }
    return true;
}

bool KLeicaCRS1000Receiver::QueryTime(KGPSTime& time) {
    SendQuery(0x01);
    const uint8_t reply[] = {0x01};
    // The time of week runs to frame offset 7.
    auto message = WaitForPayload(reply, sizeof reply, kReplyMs, 8 + 2);
    if (!message) {
        time = KGPSTime();
        return false;
    }
    const uint8_t* f = message->data.get();
    const uint32_t tenths = static_cast<uint32_t>(f[5]) | static_cast<uint32_t>(f[6]) << 8 |
                            static_cast<uint32_t>(f[7]) << 16;
    const double secondsOfWeek = tenths / 10.0;
    uint32_t week = 0;
    KGPSTime::ResolveGPSWeek(static_cast<uint32_t>(secondsOfWeek), week);
    time = KGPSTime(week, secondsOfWeek);
    return true;
}
