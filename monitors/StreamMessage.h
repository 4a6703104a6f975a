#pragma once
#include <cstdint>
#include <memory>

#include "time/KGPSTime.h"

// One framed, checked message: an owned copy of the frame from its first sync byte.
struct StreamMessage {
    StreamMessage() : stamp(KGPSTime::kGpsEpoch) {}
    StreamMessage(const uint8_t* bytes, int32_t count)
        : data(count > 0 ? new uint8_t[static_cast<size_t>(count)] : nullptr),
          length(count > 0 ? count : 0), stamp(KGPSTime::kGpsEpoch) {
        for (int32_t i = 0; i < length; ++i) data[static_cast<size_t>(i)] = bytes[i];
    }

    std::unique_ptr<uint8_t[]> data;
    int32_t length = 0;
    KGPSTime stamp;
};
