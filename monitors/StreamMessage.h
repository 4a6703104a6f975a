#pragma once
#include <cstdint>
#include <cstring>
#include <memory>

#include "time/KGPSTime.h"

// One framed, checked message: an owned copy of the frame from its first sync byte.
struct StreamMessage {
    StreamMessage() : stamp(KGPSTime::kGpsEpoch) {}
    // A copy of `count` bytes; without bytes the record is empty.
    StreamMessage(const uint8_t* bytes, int32_t count) : stamp(KGPSTime::kGpsEpoch) {
        if (bytes == nullptr || count <= 0) return;
        data.reset(new uint8_t[static_cast<size_t>(count)]);
        std::memcpy(data.get(), bytes, static_cast<size_t>(count));
        length = count;
    }

    std::unique_ptr<uint8_t[]> data;
    int32_t length = 0;
    KGPSTime stamp;
};
